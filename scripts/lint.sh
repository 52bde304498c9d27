#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy; findings are errors) on the project's C++
# sources that changed: against origin/main where that differs from HEAD, else those of the
# last commit and the uncommitted ones. Headers are checked through the sources that
# include them.
# Usage: scripts/lint.sh [--all | FILE...]
# Environment: BUILD (default build/default), configured with compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/default}
TIDY=${CLANG_TIDY:-clang-tidy-14}  # the version scripts/install-deps.sh installs

command -v "$TIDY" >/dev/null || { echo "lint: $TIDY is missing (scripts/install-deps.sh)" >&2; exit 1; }
[ -f "$BUILD/compile_commands.json" ] || cmake --preset default >/dev/null

if [ "${1:-}" = "--all" ]; then
  mapfile -t files < <(git ls-files '*.cpp')
elif [ $# -gt 0 ]; then
  files=("$@")
else
  base=HEAD~1
  if git rev-parse -q --verify origin/main >/dev/null && [ "$(git rev-parse origin/main)" != "$(git rev-parse HEAD)" ]; then
    base=$(git merge-base HEAD origin/main)
  fi
  git rev-parse -q --verify "$base" >/dev/null || base=$(git hash-object -t tree /dev/null)
  mapfile -t files < <({ git diff --name-only --diff-filter=d "$base" -- '*.cpp'
                         git ls-files --others --exclude-standard '*.cpp'; } | sort -u)
fi

# Only what the build compiles: a file outside compile_commands.json has no flags to use.
mapfile -t compiled < <(python3 - "$BUILD/compile_commands.json" "${files[@]}" <<'PY'
import json, os, sys
known = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
for f in sys.argv[2:]:
    if not f.startswith("build/") and os.path.realpath(f) in known:
        print(f)
PY
)
if [ ${#compiled[@]} -eq 0 ]; then
  echo "lint: no changed C++ sources to check"
  exit 0
fi

start=$(date +%s)
# The compile flags are GCC's; clang-tidy reads them with clang and must not stop at
# the GCC-only warning options.
# clang-tidy counts the compiler warnings it hid ("N warnings generated.") on stderr; those
# lines say nothing and are left out.
status=0
printf '%s\n' "${compiled[@]}" |
  xargs -P 2 -n 4 "$TIDY" -p "$BUILD" --quiet --extra-arg=-Wno-unknown-warning-option \
    2> >(grep -v '^[0-9]* warnings\? generated\.$' >&2) || status=$?
if [ $status -ne 0 ]; then
  echo "lint: clang-tidy found problems in ${#compiled[@]} file(s) checked" >&2
  exit 1
fi
echo "lint: ${#compiled[@]} file(s) clean ($(( $(date +%s) - start )) s)"

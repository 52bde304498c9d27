#!/usr/bin/env bash
# Makes a corpus of N TNC2 lines at OUT with gen_corpus.py: the one GEN_CORPUS names, else the
# one in the shared folder beside the clone (a work tree's is one level further up), where the
# build looks for it too.
# Usage: bench/app/gen-corpus.sh N OUT
set -euo pipefail
out=$(realpath -m "${2:?out}")
cd "$(dirname "$0")/../.."
for g in "${GEN_CORPUS:-}" ../shared/bench/gen_corpus.py ../../shared/bench/gen_corpus.py; do
  if [ -n "$g" ] && [ -f "$g" ]; then exec python3 "$g" "${1:?lines}" "$out" >/dev/null; fi
done
echo "no gen_corpus.py beside the clone: give GEN_CORPUS, or a CORPUS of TNC2 lines" >&2
exit 2

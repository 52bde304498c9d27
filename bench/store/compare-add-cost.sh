#!/usr/bin/env bash
# CPU a kept message costs the store, builds side by side in one run: bench/store/AddCost.cpp
# compiled against each tree's own headers and store library (its bench preset's build), then
# run in turn, tree after tree, ROUNDS times on a store file in DIR (on the disk to measure:
# ext4 for the figures in docs/benchmarks.md). Prints µs of process CPU (every thread) per Add
# for each round and tree, and the load average at the end of the round.
# Usage: [ROUNDS=5] [DIR=.] [ADDS=600] [PER_SECOND=20] bench/store/compare-add-cost.sh TREE...
#   each tree built with: cmake --preset bench -DQM_GUI=OFF && cmake --build build/bench --target qm_store
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rounds=${ROUNDS:-5}
dir=${DIR:-$(pwd)}
adds=${ADDS:-600}
pace=${PER_SECOND:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trees=()
for t in "$@"; do trees+=("$(cd "$t" && pwd)"); done
for i in "${!trees[@]}"; do
  tree=${trees[$i]}
  g++ -std=c++20 -O2 -I"$tree" "$here/AddCost.cpp" "$tree/build/bench/store/libqm_store.a" \
    "$tree/build/bench/base/libqm_base.a" -lsqlite3 -lpthread -o "$work/add_cost_$i"
done
echo "round $(printf ' %s' "${trees[@]}") load"
for r in $(seq 1 "$rounds"); do
  line="$r"
  for i in "${!trees[@]}"; do
    line+="  $("$work/add_cost_$i" "$dir/qm-add-cost-$i.db" 20000 "$adds" "$pace")"
    rm -f "$dir/qm-add-cost-$i.db"{,-wal,-shm}
  done
  echo "$line  $(cut -d' ' -f1 /proc/loadavg)"
done

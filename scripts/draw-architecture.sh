#!/usr/bin/env bash
# Draws docs/architecture.svg from the CMake target graph: the program's own libraries
# (qm_*) and the executable, each arrow a link from one to another.
# Usage: scripts/draw-architecture.sh   (needs the graphviz package: dot)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cat >"$out/CMakeGraphVizOptions.cmake" <<'OPTIONS'
set(GRAPHVIZ_GRAPH_NAME "Quillmark")
set(GRAPHVIZ_EXTERNAL_LIBS OFF)
set(GRAPHVIZ_GENERATE_PER_TARGET OFF)
set(GRAPHVIZ_GENERATE_DEPENDERS OFF)
set(GRAPHVIZ_INTERFACE_LIBS OFF)
set(GRAPHVIZ_IGNORE_TARGETS "^qm_version$" "_autogen" "^qm_test_support$" "_resources")
OPTIONS
cmake -S . -B "$out" -G Ninja -DQM_TESTS=OFF -DQM_BENCH=OFF -DQM_FUZZ=OFF --graphviz="$out/graph.dot" >/dev/null
# The legend explains CMake's shapes; the picture has only libraries and one program.
sed -i '/subgraph clusterLegend/,/^}/d' "$out/graph.dot"
dot -Tsvg -o docs/architecture.svg "$out/graph.dot"
echo "docs/architecture.svg"

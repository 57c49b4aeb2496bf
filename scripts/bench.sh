#!/usr/bin/env bash
# The benchmarks: installs what is missing (with OpenCV, which the render
# benchmark compares against; the product never links it), builds the
# default preset and runs each benchmark program. Arguments, if any, are
# handed to every program (e.g. --benchmark_filter=Pass).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh libopencv-dev
cmake --preset default >/dev/null
cmake --build --preset default -j4

for bench in build/default/bench/*_bench; do
  echo "== $(basename "$bench") ==" >&2
  "$bench" "$@"
done

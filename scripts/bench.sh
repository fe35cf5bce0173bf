#!/usr/bin/env bash
# Builds and runs the benchmarks of the native build: the console print's text
# path against a std::string copy of the same bytes, at 1 and 2 MiB, plain and
# full of "%", and a log line while the log file is absent. Prints the figures
# and their ratios; exits 1 when a ratio is over its limit.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=plain).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target text_path_bench >/dev/null
exec build/native/tests/native/neutral/text_path_bench --benchmark_repetitions=5 \
    --benchmark_color=false "$@"

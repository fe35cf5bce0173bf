#!/usr/bin/env bash
# Builds everything and runs every test: the plugin's sources as 32-bit code
# under qemu-i386 against the test host, and the native tools and checks.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
quorvane_ensure_packages

cmake --preset dll >/dev/null
cmake --build --preset dll
cmake --preset test32 >/dev/null
cmake --build --preset test32
cmake --preset native >/dev/null
cmake --build --preset native

ctest --preset test32
ctest --preset native

# The layout-free sources under AddressSanitizer + UBSan (with bounded libFuzzer
# runs) and under ThreadSanitizer.
for preset in native-asan native-tsan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

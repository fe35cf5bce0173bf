#!/usr/bin/env bash
# Builds Quorvane.dll and the release folder dist/, then runs a short session
# of the new DLL in the simulated game.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
quorvane_ensure_packages

cmake --preset dll >/dev/null
cmake --build --preset dll
cmake --preset native >/dev/null
cmake --build --preset native

scripts/package.sh

# A short session of the new DLL in the simulated game: what a player sees.
cmake --preset test32 >/dev/null
cmake --build --preset test32 --target quorvane_session
echo
qemu-i386-static build/test32/tests/e2e/quorvane_session --dll dist/SKSE/Plugins/Quorvane.dll

#!/usr/bin/env bash
# Lays out dist/ as the game's Data folder expects it, from what the presets built.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf dist
mkdir -p dist/SKSE/Plugins dist/Scripts/Source
cp build/dll/Quorvane.dll dist/Quorvane.dll
cp build/dll/Quorvane.dll dist/SKSE/Plugins/Quorvane.dll
cp papyrus/Ulvaric.psc dist/Scripts/Source/Ulvaric.psc
if [[ -x build/native/tools/pexc/pexc ]]; then
    build/native/tools/pexc/pexc papyrus/Ulvaric.psc dist/Scripts/Ulvaric.pex
fi
echo "dist/ ready (Quorvane $version)"

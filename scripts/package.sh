#!/usr/bin/env bash
# Lays out dist/ as the game's Data folder expects it, from what the presets
# built, and packs the release zip whose root stands for the Data folder.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
pexc=build/native/tools/pexc/pexc
# The same sources give the same archive: fixed times unless the caller sets one.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}

dist=${QUORVANE_DIST:-dist}
rm -rf "$dist"
mkdir -p "$dist/SKSE/Plugins" "$dist/Scripts/Source"
cp build/dll/Quorvane.dll "$dist/Quorvane.dll"
cp build/dll/Quorvane.dll "$dist/SKSE/Plugins/Quorvane.dll"
cp papyrus/Ulvaric.psc "$dist/Scripts/Source/Ulvaric.psc"
"$pexc" papyrus/Ulvaric.psc "$dist/Scripts/Ulvaric.pex"
sed "s/@VERSION@/$version/" packaging/Quorvane-readme.txt > "$dist/Quorvane-readme.txt"

zip_name="Quorvane-$version.zip"
(
    cd "$dist"
    find SKSE Scripts Quorvane-readme.txt -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    rm -f "$zip_name"
    zip -q -X -D -r "$zip_name" Quorvane-readme.txt SKSE/Plugins/Quorvane.dll \
        Scripts/Ulvaric.pex Scripts/Source/Ulvaric.psc
)
echo "$dist/ ready: Quorvane $version, $(stat -c %s "$dist/Quorvane.dll") bytes, $dist/$zip_name"

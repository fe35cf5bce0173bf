#!/usr/bin/env bash
# Builds the release into a scratch folder and checks it as a player's mod
# manager sees it: exactly the files of the Data folder at the archive's root,
# the DLL that the build made, a compiled script, the same bytes twice.
set -euo pipefail
cd "$(dirname "$0")/.."

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export SOURCE_DATE_EPOCH=1700000000
QUORVANE_DIST="$scratch/a" scripts/package.sh >/dev/null
QUORVANE_DIST="$scratch/b" scripts/package.sh >/dev/null

failures=0
checks=0
check() {
    checks=$((checks + 1))
    if eval "$2"; then
        echo "ok: $1"
    else
        echo "FAILED: $1"
        failures=$((failures + 1))
    fi
}

zip=$(ls "$scratch"/a/Quorvane-*.zip)
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
expected="Quorvane-readme.txt SKSE/Plugins/Quorvane.dll Scripts/Source/Ulvaric.psc Scripts/Ulvaric.pex "
check "archive holds exactly the Data folder's files" '[[ "$listing" == "$expected" ]]'
mkdir "$scratch/unpacked"
unzip -q "$zip" -d "$scratch/unpacked"
check "the archive's DLL is the one built" 'cmp -s "$scratch/unpacked/SKSE/Plugins/Quorvane.dll" build/dll/Quorvane.dll'
check "the script source is the project's" 'cmp -s "$scratch/unpacked/Scripts/Source/Ulvaric.psc" papyrus/Ulvaric.psc'
check "the compiled script starts with the format's magic" '[[ $(head -c 4 "$scratch/unpacked/Scripts/Ulvaric.pex" | od -An -tx1 | tr -d " ") == fa57c0de ]]'
check "the readme names the one runtime" 'grep -q 0x09200000 "$scratch/unpacked/Quorvane-readme.txt"'
check "the same sources give the same archive" 'cmp -s "$zip" "$(ls "$scratch"/b/Quorvane-*.zip)"'

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))

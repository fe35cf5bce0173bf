#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Sourced by build.sh and test.sh.
set -euo pipefail

QUORVANE_PACKAGES=(
    cmake ninja-build g++ g++-multilib
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    qemu-user-static
    clang libclang-rt-14-dev
    googletest libbenchmark-dev
    zip unzip
)

quorvane_ensure_packages() {
    local missing=() package
    for package in "${QUORVANE_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

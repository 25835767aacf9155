#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build and the tests need and the
# machine lacks. Runs apt-get update at most once, and only when needed.
set -euo pipefail

packages=(cmake make g++ gcc-multilib g++-multilib mingw-w64 binutils-mingw-w64-x86-64
          wine wine64 googletest clang-format binutils libbenchmark-dev valgrind
          clang-14 libclang-rt-14-dev lcov
          libcli11-dev libpugixml-dev libzip-dev libfmt-dev pkg-config)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

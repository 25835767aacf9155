#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build and the tests need and the
# machine lacks. Runs apt-get update at most once, and only when needed.
set -euo pipefail

packages=(cmake make g++ gcc-multilib g++-multilib mingw-w64 binutils-mingw-w64-x86-64
          wine wine64 googletest clang-format binutils libbenchmark-dev valgrind
          clang-14 libclang-rt-14-dev lcov
          libcli11-dev libpugixml-dev libzip-dev libfmt-dev pkg-config
          # The AArch64 build: clang and lld with Debian's cross C and C++
          # libraries, llvm's objdump and readelf for its form check, QEMU to
          # run its tests. Debian's AArch64 cross gcc is left out on purpose:
          # it and gcc-multilib remove each other.
          lld-14 llvm-14 libc6-dev-arm64-cross libgcc-12-dev-arm64-cross
          libstdc++-12-dev-arm64-cross qemu-user
          # The tests of the archives' source code unpack them.
          unzip)
# PLplot's development package recommends its bindings for half a dozen
# other languages; the drawing needs none of them.
# fmirun's cluster recipes run for real: GNU parallel, and a one-node Slurm
# cluster with munge.
lean_packages=(libplplot-dev plplot-driver-cairo parallel slurmctld slurmd slurm-client munge)
missing_of() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            echo "$package"
    done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_lean < <(missing_of "${lean_packages[@]}")
if ((${#missing[@]} + ${#missing_lean[@]} > 0)); then
    echo "Installing: ${missing[*]} ${missing_lean[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    if ((${#missing[@]} > 0)); then
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
    fi
    if ((${#missing_lean[@]} > 0)); then
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q \
            --no-install-recommends "${missing_lean[@]}"
    fi
    updated=1
fi

# The 32-bit test programs need QEMU's user-mode emulator where this kernel
# runs no 32-bit x86 program, or where SLAVE_EMULATE_32BIT=1 asks for it.
runs_32bit_natively() {
    local probe
    probe=$(mktemp -d)
    printf 'int main(void) { return 0; }\n' >"$probe/runs.c"
    local status=0
    { gcc -m32 "$probe/runs.c" -o "$probe/runs" && "$probe/runs"; } >/dev/null 2>&1 || status=1
    rm -rf "$probe"
    return $status
}
if [[ ${SLAVE_EMULATE_32BIT:-} == 1 ]] || ! runs_32bit_natively; then
    if ! dpkg-query -W -f='${Status}' qemu-user 2>/dev/null | grep -q "install ok installed"; then
        echo "Installing: qemu-user (32-bit x86 programs run under user-mode emulation here)"
        sudo_cmd=()
        [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
        [[ -n ${updated:-} ]] || "${sudo_cmd[@]}" apt-get update -q
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q qemu-user
    fi
fi

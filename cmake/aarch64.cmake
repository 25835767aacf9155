# 64-bit ARM Linux (aarch64-linux-gnu) with clang 14 and lld, against
# Debian's cross C and C++ libraries (libc6-dev-arm64-cross,
# libgcc-12-dev-arm64-cross, libstdc++-12-dev-arm64-cross), which clang finds
# under /usr/aarch64-linux-gnu and /usr/lib/gcc-cross by itself. Debian's
# AArch64 cross gcc would remove gcc-multilib, which the linux32 build needs.
#
# Every translation unit is compiled with -ffp-contract=off: AArch64 has
# fused multiply-adds, and a contracted a * b + c rounds once where x86
# rounds twice, so neither the slaves nor the test program's reference
# arithmetic may contract.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(SLAVE_OBJDUMP llvm-objdump-14)
set(SLAVE_READELF llvm-readelf-14)

# 32-bit x86 Linux with the host compilers: SSE4.1 target, every double
# operation in SSE2 scalar arithmetic, never the x87 unit.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse4.1 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse4.1 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(SLAVE_OBJDUMP objdump)
set(SLAVE_READELF readelf)

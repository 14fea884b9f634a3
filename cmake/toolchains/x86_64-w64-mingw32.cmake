# Cross-builds the 64-bit Windows DLL with the mingw-w64 posix-thread compilers:
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchains/x86_64-w64-mingw32.cmake
set(PDA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

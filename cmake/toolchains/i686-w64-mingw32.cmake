# Cross-builds the 32-bit Windows DLL, the shipped form, with the mingw-w64
# posix-thread compilers:
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchains/i686-w64-mingw32.cmake
set(PDA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR X86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

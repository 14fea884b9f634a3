# Shared part of the mingw-w64 cross toolchains. The including file sets
# PDA_MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32) and
# CMAKE_SYSTEM_PROCESSOR before including this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix thread model: std::thread and std::mutex come from winpthread,
# which the default win32 model of these compilers lacks.
set(CMAKE_C_COMPILER ${PDA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PDA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PDA_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${PDA_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${PDA_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Look for headers, libraries and packages in the target's tree only, never
# in the build machine's /usr (its glibc headers would shadow the mingw ones);
# programs are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${PDA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread are linked into every DLL and program, so
# that they run on a bare Windows (or Wine) without the compiler's DLLs beside
# them. The library's exported interface passes no standard-library objects
# between modules, so each module keeping its own copy is safe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine. Listing their tests right after each link would
# start Wine during the build, so the listing waits until ctest runs.
if(NOT DEFINED CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
find_program(PDA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PDA_WINE64 AND PDA_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PDA_WINE64})
endif()

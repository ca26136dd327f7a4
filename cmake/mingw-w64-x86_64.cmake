# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-building for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix,
# the POSIX thread model, which std::thread needs). Programs are linked statically, so
# they run without any DLL beside them; tests run under wine64.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tavrin_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tavrin_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tavrin_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tavrin_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tavrin_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (GoogleTest) come from the root path or the prefixes given on the command line.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian keeps wine64 outside PATH.
find_program(TAVRIN_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAVRIN_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRIN_WINE64})
endif()

# SPDX-License-Identifier: MIT
# Cross-build for 64-bit Windows with mingw-w64 (Debian g++-mingw-w64-x86-64-posix).
# The shipped DLL is the 32-bit one (cmake/mingw-i686.cmake); this build runs
# the same Windows suite under 64-bit Wine on machines whose kernel cannot
# execute 32-bit programs, and keeps the code honest for LLP64 (long is 32
# bits, pointers and SOCKET are 64).
# The -posix compilers are needed: the -win32 variant has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's wine64 loader is not on PATH (only the wine front end, which picks
# the loader by the program's architecture and needs the 32-bit one present).
find_program(QELRPC_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QELRPC_WINE NAMES wine64 wine)
if(QELRPC_WINE)
  # Through the same wrapper as the 32-bit build (it reruns a program once
  # when Wine itself crashes as the process exits); QELRPC_WINE tells it
  # which loader to use.
  set(CMAKE_CROSSCOMPILING_EMULATOR env QELRPC_WINE=${QELRPC_WINE} ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_exec.sh)
endif()

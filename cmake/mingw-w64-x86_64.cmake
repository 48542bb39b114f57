# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64
# in its -posix threading variant), statically linked so the programs import only
# the system's own DLLs. Programs and tests run under Wine on the build machine:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# (./scripts/build-windows does this and prepares the Wine prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LARKSPOOL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LARKSPOOL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LARKSPOOL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LARKSPOOL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LARKSPOOL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthread go into the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A release build carries no symbol table.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Tests and build-time programs run under Wine, in a prefix of the build
# folder's own, without Wine's debug chatter. The Windows 64-bit loader is
# used directly, so no 32-bit Wine is needed.
find_program(LARKSPOOL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(LARKSPOOL_WINE NAMES wine64 wine)
if(LARKSPOOL_WINE)
  set(LARKSPOOL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "The Wine prefix the tests run in")
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${LARKSPOOL_WINEPREFIX} WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${LARKSPOOL_WINE})
endif()

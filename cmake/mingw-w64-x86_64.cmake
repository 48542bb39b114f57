# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64
# in its -posix threading variant), statically linked so the programs import only
# the system's own DLLs. Programs and tests run under Wine on the build machine.
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

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(LARKSPOOL_WINE NAMES wine64 wine)
if(LARKSPOOL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LARKSPOOL_WINE})
endif()

# Cross-compiles the Windows program with Debian's MinGW-w64, win32 thread model: its runtime
# links statically and needs no libwinpthread-1.dll beside the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
# x86_64-w64-mingw32-windres, through a script that preprocesses for it (see there).
set(CMAKE_RC_COMPILER "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-windres.sh")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only Windows' own DLLs at run time: the C++ runtime and libgcc go into the executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Stripped: the debug information would more than double the program's size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# The cross-built tests run under Wine, on a private X session, in one prefix per build.
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run.sh;${CMAKE_BINARY_DIR}/wine")

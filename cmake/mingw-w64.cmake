# What the MinGW-w64 toolchain files share; each sets KAVONI_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first. Debian's MinGW-w64 with the win32 thread model: its runtime
# links statically and needs no libwinpthread-1.dll beside the program.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KAVONI_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KAVONI_MINGW_TRIPLET}-g++-win32)
# windres, through a script that preprocesses for it (see there), told the target's tools.
set(CMAKE_RC_COMPILER "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-windres.sh")
set(CMAKE_RC_FLAGS_INIT "--kavoni-triplet=${KAVONI_MINGW_TRIPLET}")

set(CMAKE_FIND_ROOT_PATH /usr/${KAVONI_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only Windows' own DLLs at run time: the C++ runtime and libgcc go into the executable. The
# header names Windows 7 (6.1) as the oldest Windows the program is for: an older one refuses
# it at once as not made for it, rather than failing on a missing call.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-static -static-libgcc -static-libstdc++ -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1 -Wl,--major-os-version,6 -Wl,--minor-os-version,1")

# Stripped: the debug information would more than double the program's size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# The cross-built tests run under Wine, on a private X session, in one prefix per build.
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run.sh;${CMAKE_BINARY_DIR}/wine")

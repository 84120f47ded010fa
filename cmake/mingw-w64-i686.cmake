# Cross-compiles the 32-bit Windows program (x86) with Debian's MinGW-w64
# (g++-mingw-w64-i686-win32): for 32-bit Windows, and for Windows 10 on ARM, which emulates
# only 32-bit x86 programs.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAVONI_MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")

#pragma once

// The one way this window includes the Windows API: Unicode ("W") calls throughout, no min/max
// macros, and the declarations of Windows 7, the oldest Windows that the program runs on
// (which the build also sets for every file of the program, since a standard header included
// first would have MinGW-w64 choose Windows 10). A call that Windows 7 lacks is then not even
// declared, so none can be imported by mistake: the few newer ones that the window uses where they
// exist are looked up at run time (window/win32/dpi.h, window/win32/system_library.h), and
// tests/packaging/check_exe.py holds the import table to what Windows 7 SP1 has.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef WINVER
#define WINVER _WIN32_WINNT
#endif
#include <windows.h>

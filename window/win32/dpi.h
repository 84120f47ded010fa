#pragma once

#include <optional>

#include "window/win32/windows_api.h"

// The window's DPI, the message font and the frame at that DPI, on every Windows from 7 on.
// Where Windows 10 1607 and later are there, the window is per-monitor aware (v2 from 1703,
// as the manifest asks) and takes everything for the DPI of its monitor. Windows 8.1 to 10
// 1511 give a per-monitor aware window its monitor's DPI through shcore.dll's
// GetDpiForMonitor, and the rest at the system DPI, which is scaled here; Windows 7 and 8
// have the system DPI alone, from the screen's device context.
namespace kavoni::dpi {

// Windows 10 1607's message, sent only to a window that is per-monitor aware (v2) and so only
// where the calls for it are there too; older headers lack its name.
inline constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE
// Windows 8.1's, sent when the window's DPI changes.
inline constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

// The calls newer than Windows 7, found with GetProcAddress and never imported, so that the
// program starts on a Windows without them: null where this Windows has none. The user32 ones
// are looked up on the first call to Calls(), which costs no library load since user32 is
// already in. shcore.dll is loaded only where GetDpiForWindow is missing: GetDpiForMonitor
// starts as a stand-in that looks the real one up on its first call and puts it, or null, in
// its place. Tests put null, or calls of their own, in place of any of them, to see what a
// Windows without them, or with other answers, does.
struct Calls {
  UINT(WINAPI* get_dpi_for_window)(HWND window);  // user32, 10 1607
  BOOL(WINAPI* adjust_window_rect_ex_for_dpi)
  (RECT* rect, DWORD style, BOOL menu, DWORD ex_style,
   UINT dpi);  // user32, 10 1607
  BOOL(WINAPI* system_parameters_info_for_dpi)
  (UINT action, UINT parameter, void* data, UINT update, UINT dpi);  // user32, 10 1607
  // The type is MDT_EFFECTIVE_DPI (0), the DPI that the user's scale setting gives.
  HRESULT(WINAPI* get_dpi_for_monitor)
  (HMONITOR monitor, int type, UINT* dpi_x,
   UINT* dpi_y);  // shcore, 8.1
};
Calls& Lookups();
// The calls as this Windows has them, freshly looked up, with GetDpiForMonitor's stand-in: what
// Lookups() starts as.
Calls LookUpCalls() noexcept;

// The system DPI: the one Windows 7 and 8 give every window, and the one that the older
// metrics calls answer for.
UINT OfSystem() noexcept;

// The DPI that `window` is drawn at: its own from 10 1607, its monitor's from 8.1, the
// system's before.
UINT OfWindow(HWND window) noexcept;

// The system's message font, the one dialogs use, at `dpi`; null if the system gives none.
HFONT CreateMessageFont(UINT dpi) noexcept;

// The outer size of a window of `style` whose client area is `client` at `dpi`, as the
// system's frame would be at that DPI; nothing where the system cannot say (before 10 1607).
std::optional<SIZE> FrameSize(DWORD style, DWORD ex_style, SIZE client, UINT dpi) noexcept;

// Sizes `window` so that its client area is `client`, keeping its top-left corner. The frame
// is measured on the window itself, so that this holds whatever the system draws it at:
// unscaled for a per-monitor v1 window (8.1 to 10 1607), scaled for v2.
void SetClientSize(HWND window, SIZE client) noexcept;

}  // namespace kavoni::dpi

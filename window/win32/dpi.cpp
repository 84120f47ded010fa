#include "window/win32/dpi.h"

#include <exception>
#include <type_traits>

#include "window/win32/system_library.h"

namespace kavoni::dpi {

namespace {

constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

// Puts user32's call `name`, or null, in `call`.
template <typename Call>
void FindInUser32(Call& call, const char* name) noexcept {
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(found));
}

// Stands in for GetDpiForMonitor until its first call, so that shcore.dll is loaded only on a
// Windows that needs it, and then never again.
HRESULT WINAPI LookUpDpiForMonitor(HMONITOR monitor, int type, UINT* dpi_x, UINT* dpi_y) {
  using GetDpiForMonitorCall = std::remove_pointer_t<decltype(Calls::get_dpi_for_monitor)>;
  // Kept for the life of the process, since the call is.
  static Library shcore;
  GetDpiForMonitorCall* found = nullptr;
  try {
    shcore = LoadSystemLibrary(L"shcore.dll");
    found = FindOrNull<GetDpiForMonitorCall>(shcore, "GetDpiForMonitor");
  } catch (const std::exception&) {
    // Windows 7 and 8 have no shcore.dll.
  }
  Lookups().get_dpi_for_monitor = found;
  return found != nullptr ? found(monitor, type, dpi_x, dpi_y) : E_NOTIMPL;
}

// The screen's device context while it is read.
class ScreenContext {
 public:
  ScreenContext() : context_(GetDC(nullptr)) {}
  ~ScreenContext() {
    if (context_ != nullptr) {
      ReleaseDC(nullptr, context_);
    }
  }
  ScreenContext(const ScreenContext&) = delete;
  ScreenContext& operator=(const ScreenContext&) = delete;
  HDC get() const { return context_; }

 private:
  HDC context_;
};

}  // namespace

Calls LookUpCalls() noexcept {
  Calls found{};
  FindInUser32(found.get_dpi_for_window, "GetDpiForWindow");
  FindInUser32(found.adjust_window_rect_ex_for_dpi, "AdjustWindowRectExForDpi");
  FindInUser32(found.system_parameters_info_for_dpi, "SystemParametersInfoForDpi");
  found.get_dpi_for_monitor = &LookUpDpiForMonitor;
  return found;
}

Calls& Lookups() {
  static Calls calls = LookUpCalls();
  return calls;
}

UINT OfSystem() noexcept {
  const ScreenContext screen;
  const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT OfWindow(HWND window) noexcept {
  const Calls& calls = Lookups();
  if (calls.get_dpi_for_window != nullptr) {
    if (const UINT dpi = calls.get_dpi_for_window(window); dpi != 0) {
      return dpi;
    }
  }
  if (calls.get_dpi_for_monitor != nullptr) {
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    if (SUCCEEDED(calls.get_dpi_for_monitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                                            kEffectiveDpi, &dpi_x, &dpi_y)) &&
        dpi_x != 0) {
      return dpi_x;
    }
  }
  return OfSystem();
}

HFONT CreateMessageFont(UINT dpi) noexcept {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  const Calls& calls = Lookups();
  if (calls.system_parameters_info_for_dpi != nullptr) {
    if (!calls.system_parameters_info_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                              dpi)) {
      return nullptr;
    }
  } else {
    // At the system DPI, where the older call answers: scaled to the window's, as Windows 10
    // itself would give it.
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
      return nullptr;
    }
    metrics.lfMessageFont.lfHeight =
        MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(OfSystem()));
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

std::optional<SIZE> FrameSize(DWORD style, DWORD ex_style, SIZE client, UINT dpi) noexcept {
  const Calls& calls = Lookups();
  RECT frame{0, 0, client.cx, client.cy};
  if (calls.adjust_window_rect_ex_for_dpi == nullptr ||
      !calls.adjust_window_rect_ex_for_dpi(&frame, style, FALSE, ex_style, dpi)) {
    return std::nullopt;
  }
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

void SetClientSize(HWND window, SIZE client) noexcept {
  RECT outer{};
  RECT inner{};
  if (!GetWindowRect(window, &outer) || !GetClientRect(window, &inner)) {
    return;
  }
  const int width = client.cx + (outer.right - outer.left) - (inner.right - inner.left);
  const int height = client.cy + (outer.bottom - outer.top) - (inner.bottom - inner.top);
  if (width != outer.right - outer.left || height != outer.bottom - outer.top) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace kavoni::dpi

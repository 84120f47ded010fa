#include <exception>

#include "window/win32/kavoni_window.h"
#include "window/win32/windows_api.h"

// The window is the whole program: it runs until the user closes it, and nothing is saved or
// asked on the way out.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  try {
    kavoni::Kavoni window(instance);
    ShowWindow(window.hwnd(), show);
    MSG message;
    BOOL got;
    // IsDialogMessageW gives the window a dialog's keyboard: Tab and Shift+Tab along the tab
    // order, Space on the focused control, Enter on the focused button.
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
      if (!IsDialogMessageW(window.hwnd(), &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
  } catch (const std::exception&) {
    return 1;
  }
}

// The floor for the Windows start-up benchmark: a window of Kavoni.exe's size, style, font and
// manifest holding only its label and its button, the least a Win32 window with text can cost.
#include "window/layout.h"
#include "window/win32/code_page.h"
#include "window/win32/windows_api.h"

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void Place(HWND control, kavoni::layout::TwipsRect twips, int dpi, HFONT font) {
  const kavoni::layout::PixelRect r = kavoni::layout::ToPixels(twips, dpi);
  SetWindowPos(control, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = L"KavoniFloor";
  RegisterClassExW(&window_class);
  namespace layout = kavoni::layout;
  HWND window = CreateWindowExW(
      0, L"KavoniFloor", kavoni::WidenAscii(layout::kWindowCaption).c_str(), kStyle, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  const UINT dpi = GetDpiForWindow(window);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HWND label =
      CreateWindowExW(0, L"STATIC", kavoni::WidenAscii(layout::kLabel1Control.caption).c_str(),
                      WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window, nullptr, instance, nullptr);
  HWND button = CreateWindowExW(
      0, L"BUTTON", kavoni::WidenAscii(layout::kCommand1Control.caption).c_str(),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, window, nullptr, instance, nullptr);
  Place(label, layout::kLabel1Control.rect, static_cast<int>(dpi), font);
  Place(button, layout::kCommand1Control.rect, static_cast<int>(dpi), font);
  const kavoni::layout::PixelRect client =
      kavoni::layout::ToPixels(kavoni::layout::kClientArea, static_cast<int>(dpi));
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectExForDpi(&frame, kStyle, FALSE, 0, dpi);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DeleteObject(font);
  return 0;
}

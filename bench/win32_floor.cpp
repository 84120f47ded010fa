// The floors for the Windows start-up benchmark: windows of Kavoni.exe's size, style, font and
// manifest. The plain one holds only the label and the button, the least a Win32 window with
// text can cost. Built with KAVONI_FLOOR_ALL_CONTROLS, it holds all 67 of Kavoni.exe's controls
// as the system makes them, and nothing of Kavoni's own: no regions, subclassing, custom draw
// or accessibility, so only it tells Kavoni's cost apart from that of the controls themselves.
#include "window/layout.h"
#include "window/win32/code_page.h"
#include "window/win32/dpi.h"
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

void Add(HWND window, DWORD ex_style, const wchar_t* window_class, const char* text, DWORD style,
         kavoni::layout::TwipsRect twips, int dpi, HFONT font) {
  HWND control = CreateWindowExW(ex_style, window_class, kavoni::WidenAscii(text).c_str(),
                                 WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
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
  // The DPI, font and size as Kavoni.exe finds them, looked up on every Windows from 7 on.
  const UINT dpi = kavoni::dpi::OfWindow(window);
  const int at = static_cast<int>(dpi);
  HFONT font = kavoni::dpi::CreateMessageFont(dpi);
#ifdef KAVONI_FLOOR_ALL_CONTROLS
  for (int index = 0; index < kavoni::kCellCount; ++index) {
    Add(window, 0, L"BUTTON", layout::kCheck1Caption, WS_TABSTOP | BS_AUTOCHECKBOX,
        layout::Check1(index), at, font);
  }
#endif
  Add(window, 0, L"BUTTON", layout::kCommand1Control.caption, WS_TABSTOP,
      layout::kCommand1Control.rect, at, font);
  Add(window, 0, L"STATIC", layout::kLabel1Control.caption, 0, layout::kLabel1Control.rect, at,
      font);
#ifdef KAVONI_FLOOR_ALL_CONTROLS
  Add(window, WS_EX_CLIENTEDGE, L"EDIT", layout::kNmeControl.caption, WS_TABSTOP | ES_AUTOHSCROLL,
      layout::kNmeControl.rect, at, font);
#endif
  const layout::PixelRect client = layout::ToPixels(layout::kClientArea, at);
  kavoni::dpi::SetClientSize(window, {client.width, client.height});
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DeleteObject(font);
  return 0;
}

#include "window/win32/kavoni_window.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "window/layout.h"
#include "window/win32/code_page.h"
#include "window/win32/dpi.h"
#include "window/win32/name_box.h"

namespace kavoni {

static_assert(MB_ICONEXCLAMATION == kMessageBoxIconWarning && MB_OK == kMessageBoxButtonsOk,
              "the core's message-box numbering is the platform's");

namespace {

constexpr wchar_t kClassName[] = L"Kavoni";
// A fixed border with minimise and close: the layout has one size, so neither a sizing frame
// nor a maximise button would do anything useful.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;

HWND CreateControl(HWND parent, DWORD ex_style, const wchar_t* window_class, const wchar_t* text,
                   DWORD style, int id) {
  HWND control = CreateWindowExW(
      ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (control == nullptr) {
    throw std::runtime_error("cannot create a control");
  }
  return control;
}

SIZE ClientSize(UINT dpi) {
  const layout::PixelRect client = layout::ToPixels(layout::kClientArea, static_cast<int>(dpi));
  return {client.width, client.height};
}

}  // namespace

Kavoni::Kavoni(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  if (!GetClassInfoExW(instance, kClassName, &window_class)) {
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &Kavoni::WindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, L"IDI_ICON1");
    window_class.hIconSm = static_cast<HICON>(
        LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = kClassName;
    if (RegisterClassExW(&window_class) == 0) {
      throw std::runtime_error("cannot register the window class");
    }
  }
  cell::RegisterCellClass(instance);
  // Sized for its DPI once it exists, since only then is its monitor known.
  if (CreateWindowExW(kExStyle, kClassName, WidenAscii(layout::kWindowCaption).c_str(), kStyle,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                      instance, this) == nullptr) {
    throw std::runtime_error("cannot create the window");
  }
}

Kavoni::~Kavoni() {
  if (hwnd_ != nullptr) {
    DestroyWindow(hwnd_);
  }
  if (font_ != nullptr) {
    DeleteObject(font_);
  }
}

LRESULT CALLBACK Kavoni::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Kavoni*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Kavoni*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT Kavoni::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      // No exception may cross the system's frames back to CreateWindowExW; -1 fails it.
      try {
        CreateControls();
        LayOut(dpi::OfWindow(hwnd_));
      } catch (const std::exception&) {
        return -1;
      }
      focus_ = check1_[0];
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == kCommand1Id && HIWORD(wparam) == BN_CLICKED) {
        MakeSprite(*this);
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == NM_CUSTOMDRAW && cell::IsCellId(header->idFrom)) {
        return cell::DrawFocus(*reinterpret_cast<const NMCUSTOMDRAW*>(lparam));
      }
      return 0;
    }
    case DM_GETDEFID:
      // IsDialogMessage asks this on Enter: the button is pressed only while it has the focus.
      if (GetFocus() == command1_) {
        return MAKELRESULT(kCommand1Id, DC_HASDEFID);
      }
      return 0;
    case WM_ACTIVATE:
      // Gives the focus back to the control that had it before a dialog or another program
      // took it, as dialog boxes do.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) {
          focus_ = focus;
        }
      } else if (focus_ != nullptr) {
        SetFocus(focus_);
      }
      return 0;
    case WM_SETFOCUS:
      if (focus_ != nullptr) {
        SetFocus(focus_);
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      // The label and the check boxes sit on the window's face colour, not the edit's white.
      auto* dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case dpi::kGetDpiScaledSize: {
      // Asked, from Windows 10 1703 on, before a move to a monitor of another scale: the exact
      // size at the new scale, so that the rectangle that the move then suggests is the one
      // the layout wants, and the window does not jump back and forth across the edge between
      // the monitors. FALSE lets the system scale the window as it would.
      const UINT new_dpi = static_cast<UINT>(wparam);
      const std::optional<SIZE> frame =
          dpi::FrameSize(kStyle, kExStyle, ClientSize(new_dpi), new_dpi);
      if (!frame) {
        return FALSE;
      }
      *reinterpret_cast<SIZE*>(lparam) = *frame;
      return TRUE;
    }
    case dpi::kDpiChanged: {
      // Windows 8.1 and later, on a move to a monitor of another scale or a change of the
      // scale: the suggested place, then the layout's size there. Before 10 1703 Windows
      // suggests the old size scaled, frame and all, which the frame it draws need not match.
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut(HIWORD(wparam));
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

void Kavoni::CreateControls() {
  // Creation order is the tab order: the cells row by row, the button, then the name box. The
  // label comes just before the name box, which makes it the box's name for screen readers.
  for (int index = 0; index < kCellCount; ++index) {
    check1_[static_cast<std::size_t>(index)] = cell::Create(hwnd_, index, apartment_);
  }
  command1_ =
      CreateControl(hwnd_, 0, L"BUTTON", WidenAscii(layout::kCommand1Control.caption).c_str(),
                    WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON, kCommand1Id);
  label1_ = CreateControl(hwnd_, 0, L"STATIC", WidenAscii(layout::kLabel1Control.caption).c_str(),
                          SS_LEFT | SS_NOPREFIX, kLabel1Id);
  nme_ = name_box::Create(hwnd_, kNmeId);
}

void Kavoni::LayOut(UINT dpi) {
  const int at = static_cast<int>(dpi);
  HFONT font = dpi::CreateMessageFont(dpi);
  const auto set_font = [font](HWND control) {
    if (font != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
  };
  for (const auto& [control, twips] :
       {std::pair{label1_, layout::kLabel1Control.rect}, std::pair{nme_, layout::kNmeControl.rect},
        std::pair{command1_, layout::kCommand1Control.rect}}) {
    const layout::PixelRect r = layout::ToPixels(twips, at);
    SetWindowPos(control, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    set_font(control);
  }
  for (int index = 0; index < kCellCount; ++index) {
    HWND cell = check1_[static_cast<std::size_t>(index)];
    cell::Place(cell, index, at);
    set_font(cell);
  }
  dpi::SetClientSize(hwnd_, ClientSize(dpi));
  // One repaint serves all 64 cells and the new font, which start-up, before the window
  // shows, does not need at all.
  if (IsWindowVisible(hwnd_)) {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  if (font != nullptr) {
    if (font_ != nullptr) {
      DeleteObject(font_);
    }
    font_ = font;
  }
}

bool Kavoni::CellTicked(int index) {
  if (index < 0 || index >= kCellCount) {
    throw std::out_of_range("no cell " + std::to_string(index));
  }
  return SendMessageW(check1_[static_cast<std::size_t>(index)], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Kavoni::RunSaveDialog() {
  apartment_.Enter();
  return cd_.Run(hwnd_);
}

std::filesystem::path Kavoni::DialogFileName() {
  return std::filesystem::path(cd_.chosen());
}

std::string Kavoni::NameText() {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(nme_)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(nme_, text.data(), static_cast<int>(text.size()))));
  return ToCodePage(text, GetACP());
}

void Kavoni::ShowMessageBox(const MessageBoxRequest& box) {
  const std::wstring prompt = FromCodePage(box.prompt, CP_ACP);
  const std::wstring title = FromCodePage(box.title, CP_ACP);
  if (MessageBoxW(hwnd_, prompt.c_str(), title.c_str(), static_cast<UINT>(MessageBoxFlags(box))) ==
      0) {
    throw std::runtime_error("cannot show the message box");
  }
}

}  // namespace kavoni

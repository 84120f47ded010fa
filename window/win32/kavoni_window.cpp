#include "window/win32/kavoni_window.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "window/layout.h"
#include "window/name_text.h"
#include "window/win32/cell_accessible.h"
#include "window/win32/code_page.h"

namespace kavoni {

static_assert(MB_ICONEXCLAMATION == kMessageBoxIconWarning && MB_OK == kMessageBoxButtonsOk,
              "the core's message-box numbering is the platform's");

namespace {

constexpr wchar_t kClassName[] = L"Kavoni";
// The cells' class: the system's Button class under another name, and without its CS_PARENTDC,
// which would have a cell drawn through its parent's clipping and past its own region. The
// Button class itself stays as it is for every other button of the process, the message box's
// and the save dialog's among them. Screen readers still know a cell for a check box: the
// system names a superclass by its base (RealGetWindowClass), and the cell's object is the
// system's own Button object.
constexpr wchar_t kCellClassName[] = L"KavoniCell";
// A fixed border with minimise and close: the layout has one size, so neither a sizing frame
// nor a maximise button would do anything useful.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;

HMENU AsMenu(int id) {
  return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

HWND CreateControl(HWND parent, DWORD ex_style, const wchar_t* window_class, const wchar_t* text,
                   DWORD style, int id) {
  HWND control = CreateWindowExW(
      ex_style, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent, AsMenu(id),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (control == nullptr) {
    throw std::runtime_error("cannot create a control");
  }
  return control;
}

// The system's message font, the one dialogs use, at `dpi`.
HFONT CreateMessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return nullptr;
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

// The procedure of the Button class that the cells' class is built on, as this program's
// manifest makes it: the themed one of Common Controls 6. Null if the system has none, which
// RegisterCellClass finds out before any cell exists.
WNDPROC ButtonProcedure() noexcept {
  static const WNDPROC procedure = [] {
    WNDCLASSEXW button{};
    button.cbSize = sizeof button;
    return GetClassInfoExW(nullptr, L"Button", &button) ? button.lpfnWndProc : nullptr;
  }();
  return procedure;
}

void RegisterCellClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW cell{};
  cell.cbSize = sizeof cell;
  if (GetClassInfoExW(instance, kCellClassName, &cell)) {
    return;
  }
  cell.cbSize = sizeof cell;
  if (ButtonProcedure() == nullptr || !GetClassInfoExW(nullptr, L"Button", &cell)) {
    throw std::runtime_error("the system has no Button class");
  }
  // The base's extra bytes stay, for the button's own use.
  cell.style &= ~static_cast<UINT>(CS_PARENTDC);
  cell.lpfnWndProc = procedure;
  cell.hInstance = instance;
  cell.lpszClassName = kCellClassName;
  if (RegisterClassExW(&cell) == 0) {
    throw std::runtime_error("cannot register the cells' window class");
  }
}

// Closes the clipboard however the reading ends.
class OpenClipboardFor {
 public:
  explicit OpenClipboardFor(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~OpenClipboardFor() {
    if (open_) {
      CloseClipboard();
    }
  }
  OpenClipboardFor(const OpenClipboardFor&) = delete;
  OpenClipboardFor& operator=(const OpenClipboardFor&) = delete;
  bool open() const { return open_; }

 private:
  bool open_;
};

// Keeps a memory block locked while it is read.
class GlobalLockOf {
 public:
  explicit GlobalLockOf(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {}
  ~GlobalLockOf() {
    if (data_ != nullptr) {
      GlobalUnlock(memory_);
    }
  }
  GlobalLockOf(const GlobalLockOf&) = delete;
  GlobalLockOf& operator=(const GlobalLockOf&) = delete;
  const void* data() const { return data_; }

 private:
  HGLOBAL memory_;
  void* data_;
};

std::optional<std::wstring> ClipboardText(HWND owner) {
  const OpenClipboardFor clipboard(owner);
  if (!clipboard.open()) {
    return std::nullopt;
  }
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) {
    return std::nullopt;
  }
  const GlobalLockOf lock(data);
  const auto* text = static_cast<const wchar_t*>(lock.data());
  if (text == nullptr) {
    return std::nullopt;
  }
  // Another program put the text there, and need not have ended it in a NUL: the reading stops
  // at the end of the block all the same.
  const wchar_t* end = text + GlobalSize(data) / sizeof(wchar_t);
  return std::wstring(text, std::find(text, end, L'\0'));
}

// The control characters that an edit control takes as commands (select all, copy, backspace,
// paste, cut, undo) rather than as text.
bool IsEditingCommand(WPARAM character) {
  switch (character) {
    case 0x01:
    case 0x03:
    case 0x08:
    case 0x16:
    case 0x18:
    case 0x1a:
      return true;
    default:
      return false;
  }
}

std::optional<layout::Arrow> ArrowOf(WPARAM key) {
  switch (key) {
    case VK_UP:
      return layout::Arrow::kUp;
    case VK_DOWN:
      return layout::Arrow::kDown;
    case VK_LEFT:
      return layout::Arrow::kLeft;
    case VK_RIGHT:
      return layout::Arrow::kRight;
    default:
      return std::nullopt;
  }
}

// Puts `procedure` in front of the control's own, which it finds again in GWLP_USERDATA.
void Subclass(HWND control, WNDPROC procedure) {
  SetWindowLongPtrW(control, GWLP_USERDATA, GetWindowLongPtrW(control, GWLP_WNDPROC));
  SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
}

// The window's outer size for a client area of the layout's at `dpi`.
SIZE FrameSize(UINT dpi) {
  const layout::PixelRect client = layout::ToPixels(layout::kClientArea, static_cast<int>(dpi));
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

bool ModifierDown() {
  return GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
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
  RegisterCellClass(instance, &Kavoni::CellProc);
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
        const UINT dpi = GetDpiForWindow(hwnd_);
        PlaceControls(dpi);
        const SIZE frame = FrameSize(dpi);
        SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
      if (header->code == NM_CUSTOMDRAW && header->idFrom >= kCheck1Id &&
          header->idFrom < static_cast<UINT_PTR>(kCheck1Id + kCellCount)) {
        return DrawCellFocus(*reinterpret_cast<const NMCUSTOMDRAW*>(lparam));
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
    case WM_GETDPISCALEDSIZE:
      // Asked before a move to a monitor of another scale: the exact size at the new scale,
      // so that the rectangle that the move then suggests is the one the layout wants, and
      // the window does not jump back and forth across the edge between the monitors.
      *reinterpret_cast<SIZE*>(lparam) = FrameSize(static_cast<UINT>(wparam));
      return TRUE;
    case WM_DPICHANGED: {
      PlaceControls(HIWORD(wparam));
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

LRESULT CALLBACK Kavoni::NameBoxProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto edit_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if ((message == WM_SETTEXT || message == EM_REPLACESEL) && lparam != 0) {
    // Every way that text arrives whole ends here: pasting, below, and other programs, such as
    // UI Automation's SetValue, dictation and scripts. Line breaks and control characters
    // become spaces, as in the Linux window, where the box's validator does the same.
    const std::wstring_view text(reinterpret_cast<const wchar_t*>(lparam));
    if (name_text::NeedsFlattening(text)) {
      const std::wstring flat = name_text::Flatten(text);
      return CallWindowProcW(edit_proc, hwnd, message, wparam,
                             reinterpret_cast<LPARAM>(flat.c_str()));
    }
  }
  if (message == WM_PASTE) {
    // The edit control would cut a pasted name at its first line break; the name is taken
    // whole instead.
    if (const std::optional<std::wstring> text = ClipboardText(hwnd)) {
      SendMessageW(hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text->c_str()));
      return 0;
    }
  }
  if (message == WM_CHAR && name_text::IsControl(wparam) && !IsEditingCommand(wparam)) {
    // Ctrl+Backspace and the like would put a control character into the name.
    return 0;
  }
  return CallWindowProcW(edit_proc, hwnd, message, wparam, lparam);
}

LRESULT CALLBACK Kavoni::CellProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const WNDPROC button_proc = ButtonProcedure();
  if (message == WM_GETDLGCODE) {
    // The dialog keyboard would otherwise take the arrows along the tab order.
    return CallWindowProcW(button_proc, hwnd, message, wparam, lparam) | DLGC_WANTARROWS;
  }
  if (message == WM_GETOBJECT && static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT)) {
    // Screen readers would otherwise hear the hidden caption, the same for every cell. Where
    // COM cannot be had, the system answers after all, with the caption.
    auto* self = reinterpret_cast<Kavoni*>(GetWindowLongPtrW(GetParent(hwnd), GWLP_USERDATA));
    const int index = GetDlgCtrlID(hwnd) - kCheck1Id;
    if (self != nullptr && self->EnterApartment()) {
      if (const LRESULT answer =
              AnswerCellObjectRequest(hwnd, wparam, WidenAscii(layout::CellName(index)))) {
        return answer;
      }
    }
  }
  if (message == WM_KEYDOWN && !ModifierDown()) {
    if (const std::optional<layout::Arrow> arrow = ArrowOf(wparam)) {
      const int index = GetDlgCtrlID(hwnd) - kCheck1Id;
      SetFocus(GetDlgItem(GetParent(hwnd), kCheck1Id + layout::CellNeighbour(index, *arrow)));
      return 0;
    }
  }
  return CallWindowProcW(button_proc, hwnd, message, wparam, lparam);
}

LRESULT Kavoni::DrawCellFocus(const NMCUSTOMDRAW& draw) {
  if (draw.dwDrawStage == CDDS_PREPAINT) {
    return CDRF_NOTIFYPOSTPAINT;
  }
  // The check box draws its own focus mark around its caption, which a cell clips away; this
  // one goes round the whole visible cell, once the keyboard is in use, as the system's are.
  if (draw.dwDrawStage == CDDS_POSTPAINT && (draw.uItemState & CDIS_FOCUS) != 0 &&
      (SendMessageW(draw.hdr.hwndFrom, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0) {
    RECT visible = draw.rc;
    RECT region{};
    if (GetWindowRgnBox(draw.hdr.hwndFrom, &region) != ERROR) {
      IntersectRect(&visible, &visible, &region);
    }
    DrawFocusRect(draw.hdc, &visible);
  }
  return CDRF_DODEFAULT;
}

void Kavoni::CreateControls() {
  // Creation order is the tab order: the cells row by row, the button, then the name box. The
  // label comes just before the name box, which makes it the box's name for screen readers.
  const std::wstring cell_caption = WidenAscii(layout::kCheck1Caption);
  for (int index = 0; index < kCellCount; ++index) {
    check1_[static_cast<std::size_t>(index)] = CreateControl(
        hwnd_, 0, kCellClassName, cell_caption.c_str(),
        WS_TABSTOP | BS_AUTOCHECKBOX | (index == 0 ? WS_GROUP : 0), kCheck1Id + index);
  }
  command1_ =
      CreateControl(hwnd_, 0, L"BUTTON", WidenAscii(layout::kCommand1Control.caption).c_str(),
                    WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON, kCommand1Id);
  label1_ = CreateControl(hwnd_, 0, L"STATIC", WidenAscii(layout::kLabel1Control.caption).c_str(),
                          SS_LEFT | SS_NOPREFIX, kLabel1Id);
  nme_ = CreateControl(hwnd_, WS_EX_CLIENTEDGE, L"EDIT",
                       WidenAscii(layout::kNmeControl.caption).c_str(),
                       WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, kNmeId);
  // Zero lifts the 32,767-character default to the most an edit control holds.
  SendMessageW(nme_, EM_SETLIMITTEXT, 0, 0);
  Subclass(nme_, &Kavoni::NameBoxProc);
}

void Kavoni::PlaceControls(UINT dpi) {
  const int at = static_cast<int>(dpi);
  std::vector<std::pair<HWND, layout::TwipsRect>> places = {
      {label1_, layout::kLabel1Control.rect},
      {nme_, layout::kNmeControl.rect},
      {command1_, layout::kCommand1Control.rect}};
  for (int index = 0; index < kCellCount; ++index) {
    places.emplace_back(check1_[static_cast<std::size_t>(index)], layout::Check1(index));
  }
  HFONT font = CreateMessageFont(dpi);
  for (const auto& [control, twips] : places) {
    const layout::PixelRect r = layout::ToPixels(twips, at);
    SetWindowPos(control, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (font != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
  }
  // Neighbouring cells overlap, as laid out, by the strip where each one's box begins. A cell
  // shows only up to where the next one starts, so that repainting it never covers the next
  // one's border; the last column and row keep their whole size.
  for (int index = 0; index < kCellCount; ++index) {
    const layout::PixelRect r = layout::ToPixels(layout::Check1(index), at);
    const bool last_column = index % kSpriteSide == kSpriteSide - 1;
    const bool last_row = index / kSpriteSide == kSpriteSide - 1;
    const int width =
        last_column ? r.width : layout::ToPixels(layout::Check1(index + 1), at).left - r.left;
    const int height =
        last_row ? r.height : layout::ToPixels(layout::Check1(index + kSpriteSide), at).top - r.top;
    // The system owns the region once it is set, and frees the one it replaces. One repaint
    // below serves all 64 and the new font, which start-up, before the window shows, does not
    // need at all.
    SetWindowRgn(check1_[static_cast<std::size_t>(index)], CreateRectRgn(0, 0, width, height),
                 FALSE);
  }
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

bool Kavoni::EnterApartment() noexcept {
  try {
    apartment_.Enter();
    return true;
  } catch (const std::exception&) {
    return false;
  }
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

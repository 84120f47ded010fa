#include "window/win32/cell.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "window/layout.h"
#include "window/win32/cell_accessible.h"
#include "window/win32/code_page.h"

namespace kavoni::cell {

namespace {

// The system's Button class under another name, and without its CS_PARENTDC, which would have
// a cell drawn through its parent's clipping and past its own region. The Button class itself
// stays as it is for every other button of the process, the message box's and the save
// dialog's among them. Screen readers still know a cell for a check box: the system names a
// superclass by its base (RealGetWindowClass), and the cell's object is the system's own
// Button object.
constexpr wchar_t kClassName[] = L"KavoniCell";

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

bool ModifierDown() {
  return GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
}

LRESULT CALLBACK CellProc(HWND cell, UINT message, WPARAM wparam, LPARAM lparam) {
  const WNDPROC button_proc = ButtonProcedure();
  if (message == WM_NCCREATE) {
    // The apartment that Create() passes, kept where the cell's own code finds it; the button
    // takes nothing from the creation parameter.
    SetWindowLongPtrW(
        cell, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
  }
  if (message == WM_GETDLGCODE) {
    // The dialog keyboard would otherwise take the arrows along the tab order.
    return CallWindowProcW(button_proc, cell, message, wparam, lparam) | DLGC_WANTARROWS;
  }
  if (message == WM_GETOBJECT && static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT)) {
    // Screen readers would otherwise hear the hidden caption, the same for every cell. Where
    // COM cannot be had, the system answers after all, with the caption.
    auto* apartment = reinterpret_cast<Apartment*>(GetWindowLongPtrW(cell, GWLP_USERDATA));
    const int index = GetDlgCtrlID(cell) - kCheck1Id;
    if (apartment != nullptr && apartment->TryEnter()) {
      if (const LRESULT answer =
              AnswerCellObjectRequest(cell, wparam, WidenAscii(layout::CellName(index)))) {
        return answer;
      }
    }
  }
  if (message == WM_KEYDOWN && !ModifierDown()) {
    if (const std::optional<layout::Arrow> arrow = ArrowOf(wparam)) {
      const int index = GetDlgCtrlID(cell) - kCheck1Id;
      SetFocus(GetDlgItem(GetParent(cell), kCheck1Id + layout::CellNeighbour(index, *arrow)));
      return 0;
    }
  }
  return CallWindowProcW(button_proc, cell, message, wparam, lparam);
}

}  // namespace

void RegisterCellClass(HINSTANCE instance) {
  WNDCLASSEXW cell{};
  cell.cbSize = sizeof cell;
  if (GetClassInfoExW(instance, kClassName, &cell)) {
    return;
  }
  cell.cbSize = sizeof cell;
  if (ButtonProcedure() == nullptr || !GetClassInfoExW(nullptr, L"Button", &cell)) {
    throw std::runtime_error("the system has no Button class");
  }
  // The base's extra bytes stay, for the button's own use.
  cell.style &= ~static_cast<UINT>(CS_PARENTDC);
  cell.lpfnWndProc = &CellProc;
  cell.hInstance = instance;
  cell.lpszClassName = kClassName;
  if (RegisterClassExW(&cell) == 0) {
    throw std::runtime_error("cannot register the cells' window class");
  }
}

HWND Create(HWND parent, int index, Apartment& apartment) {
  HWND cell = CreateWindowExW(
      0, kClassName, WidenAscii(layout::kCheck1Caption).c_str(),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX | (index == 0 ? WS_GROUP : 0), 0, 0, 0,
      0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCheck1Id + index)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), &apartment);
  if (cell == nullptr) {
    throw std::runtime_error("cannot create a cell");
  }
  return cell;
}

void Place(HWND cell, int index, int dpi) {
  const layout::PixelRect r = layout::ToPixels(layout::Check1(index), dpi);
  SetWindowPos(cell, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  // Neighbouring cells overlap, as laid out, by the strip where each one's box begins. A cell
  // shows only up to where the next one starts, so that repainting it never covers the next
  // one's border; the last column and row keep their whole size.
  const bool last_column = index % kSpriteSide == kSpriteSide - 1;
  const bool last_row = index / kSpriteSide == kSpriteSide - 1;
  const int width =
      last_column ? r.width : layout::ToPixels(layout::Check1(index + 1), dpi).left - r.left;
  const int height =
      last_row ? r.height : layout::ToPixels(layout::Check1(index + kSpriteSide), dpi).top - r.top;
  // The system owns the region once it is set, and frees the one it replaces.
  SetWindowRgn(cell, CreateRectRgn(0, 0, width, height), FALSE);
}

bool IsCellId(UINT_PTR id) {
  return id >= static_cast<UINT_PTR>(kCheck1Id) &&
         id < static_cast<UINT_PTR>(kCheck1Id + kCellCount);
}

LRESULT DrawFocus(const NMCUSTOMDRAW& draw) {
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

}  // namespace kavoni::cell

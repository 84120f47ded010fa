#include "window/win32/name_box.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "window/layout.h"
#include "window/name_text.h"
#include "window/win32/code_page.h"

namespace kavoni::name_box {

namespace {

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

// In front of the edit control's own procedure, which it finds in GWLP_USERDATA.
LRESULT CALLBACK NameBoxProc(HWND box, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto edit_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(box, GWLP_USERDATA));
  if ((message == WM_SETTEXT || message == EM_REPLACESEL) && lparam != 0) {
    // Every way that text arrives whole ends here: pasting, below, and other programs, such as
    // UI Automation's SetValue, dictation and scripts. Line breaks and control characters
    // become spaces, as in the Linux window, where the box's validator does the same.
    const std::wstring_view text(reinterpret_cast<const wchar_t*>(lparam));
    if (name_text::NeedsFlattening(text)) {
      const std::wstring flat = name_text::Flatten(text);
      return CallWindowProcW(edit_proc, box, message, wparam,
                             reinterpret_cast<LPARAM>(flat.c_str()));
    }
  }
  if (message == WM_PASTE) {
    // The edit control would cut a pasted name at its first line break; the name is taken
    // whole instead.
    if (const std::optional<std::wstring> text = ClipboardText(box)) {
      SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text->c_str()));
      return 0;
    }
  }
  if (message == WM_CHAR && name_text::IsControl(wparam) && !IsEditingCommand(wparam)) {
    // Ctrl+Backspace and the like would put a control character into the name.
    return 0;
  }
  return CallWindowProcW(edit_proc, box, message, wparam, lparam);
}

}  // namespace

HWND Create(HWND parent, int id) {
  HWND box = CreateWindowExW(
      WS_EX_CLIENTEDGE, L"EDIT", WidenAscii(layout::kNmeControl.caption).c_str(),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (box == nullptr) {
    throw std::runtime_error("cannot create the name box");
  }
  // Zero lifts the 32,767-character default to the most an edit control holds.
  SendMessageW(box, EM_SETLIMITTEXT, 0, 0);
  SetWindowLongPtrW(box, GWLP_USERDATA, GetWindowLongPtrW(box, GWLP_WNDPROC));
  SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NameBoxProc));
  return box;
}

}  // namespace kavoni::name_box

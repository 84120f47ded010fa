#pragma once

#include <memory>
#include <string>

#include "window/win32/windows_api.h"

namespace kavoni {

// The common save dialog (GetSaveFileNameW), set up as the window's layout fixes it: titled
// and filtered as the layout says, starting on the Desktop, adding no extension and asking
// nothing before a file is replaced. It remembers the last file chosen and reopens on it.
//
// comdlg32, shell32 and ole32 are loaded on the first Run(), not at start-up: they cost more to
// load than the whole rest of the window, and many sessions draw for a while before saving.
class SaveDialog {
 public:
  SaveDialog();
  ~SaveDialog();
  SaveDialog(const SaveDialog&) = delete;
  SaveDialog& operator=(const SaveDialog&) = delete;

  // Shows the dialog, modal to `owner`. Returns false when the user cancelled it; throws
  // std::runtime_error when the dialog itself failed.
  bool Run(HWND owner);

  // The file chosen last, as the file system spells it; empty until the first choice.
  const std::wstring& chosen() const { return chosen_; }

 private:
  // The three libraries and the calls taken from them, once loaded.
  struct Api;
  std::unique_ptr<Api> api_;
  std::wstring chosen_;
};

}  // namespace kavoni

#include "window/win32/save_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "window/layout.h"
#include "window/win32/code_page.h"
#include "window/win32/system_library.h"

namespace kavoni {

namespace {

// Long paths included: the dialog fails with FNERR_BUFFERTOOSMALL rather than cut a name.
constexpr std::size_t kPathBufferLength = 32768;

// FOLDERID_Desktop, spelled out so that no GUID library is linked for one constant.
constexpr GUID kFolderIdDesktop = {
    0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};

}  // namespace

struct SaveDialog::Api {
  Library comdlg32 = LoadSystemLibrary(L"comdlg32.dll");
  Library shell32 = LoadSystemLibrary(L"shell32.dll");
  Library ole32 = LoadSystemLibrary(L"ole32.dll");
  decltype(GetSaveFileNameW)* get_save_file_name =
      Find<decltype(GetSaveFileNameW)>(comdlg32, "GetSaveFileNameW");
  decltype(CommDlgExtendedError)* extended_error =
      Find<decltype(CommDlgExtendedError)>(comdlg32, "CommDlgExtendedError");
  decltype(SHGetKnownFolderPath)* known_folder_path =
      Find<decltype(SHGetKnownFolderPath)>(shell32, "SHGetKnownFolderPath");
  decltype(CoTaskMemFree)* free_task_memory = Find<decltype(CoTaskMemFree)>(ole32, "CoTaskMemFree");

  // The user's Desktop, or empty when the system has none to give, and the dialog picks.
  std::wstring Desktop() const {
    PWSTR path = nullptr;
    std::wstring desktop;
    if (SUCCEEDED(known_folder_path(kFolderIdDesktop, 0, nullptr, &path))) {
      desktop = path;
    }
    free_task_memory(path);
    return desktop;
  }
};

SaveDialog::SaveDialog() = default;
SaveDialog::~SaveDialog() = default;

bool SaveDialog::Run(HWND owner) {
  if (!api_) {
    api_ = std::make_unique<Api>();
  }
  std::vector<wchar_t> file(kPathBufferLength, L'\0');
  chosen_.copy(file.data(), file.size() - 1);
  // Once a file has been chosen, the dialog opens in its folder with its name filled in.
  const std::wstring start = chosen_.empty() ? api_->Desktop() : std::wstring();

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  // The pattern is both the filter's name and its pattern; the list ends in two NULs.
  const std::wstring pattern = WidenAscii(layout::kDialogPattern);
  const std::wstring filter = pattern + L'\0' + pattern + L'\0';
  const std::wstring title = WidenAscii(layout::kDialogTitle);
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
  dialog.lpstrTitle = title.c_str();
  // No OFN_OVERWRITEPROMPT and no lpstrDefExt: ".txt" is added to the name afterwards, so the
  // file that gets replaced is not the one the dialog would ask about. OFN_NOCHANGEDIR keeps
  // the program's current folder where it was.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!api_->get_save_file_name(&dialog)) {
    const DWORD error = api_->extended_error();
    if (error == 0) {
      return false;
    }
    throw std::runtime_error("the save dialog failed with error " + std::to_string(error));
  }
  chosen_ = file.data();
  return !chosen_.empty();
}

}  // namespace kavoni

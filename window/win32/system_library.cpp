#include "window/win32/system_library.h"

#include <string>

// Declared only for Windows 8 and later by some SDKs, though a Windows 7 with KB2533623 takes
// it too.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace kavoni {

namespace {

// The system folder, without a separator at its end; for a 32-bit program on 64-bit Windows
// this is System32 too, which the system then reads as SysWOW64.
std::wstring SystemFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    // Too small: the length asked for counts the NUL.
    folder.resize(length);
    length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size()) {
    throw std::runtime_error("cannot find the system folder");
  }
  folder.resize(length);
  return folder;
}

}  // namespace

LibrarySearch& SystemLibrarySearch() {
  static LibrarySearch search{
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr};
  return search;
}

Library LoadSystemLibrary(const wchar_t* name) {
  Library library(SystemLibrarySearch().search_flags
                      ? LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)
                      : LoadLibraryExW((SystemFolder() + L'\\' + name).c_str(), nullptr,
                                       LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) {
    throw std::runtime_error("cannot load a system library");
  }
  return library;
}

}  // namespace kavoni

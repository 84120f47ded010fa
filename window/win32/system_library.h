#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "window/win32/windows_api.h"

// The libraries that the window loads only when first needed rather than at start-up, and the
// calls taken from them.
namespace kavoni {

struct LibraryDeleter {
  void operator()(HMODULE library) const { FreeLibrary(library); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

// How a system library is found, as LoadSystemLibrary asks for it. LOAD_LIBRARY_SEARCH_SYSTEM32
// keeps the library and everything it loads in the system folder, but Windows 7 and Vista
// without update KB2533623 refuse the flag with ERROR_INVALID_PARAMETER; Microsoft's test for
// it is whether kernel32 has AddDllDirectory, which that update brought. Without it the
// library is named by its full path in the system folder, and what it loads is looked for
// beside it first.
struct LibrarySearch {
  // Whether LoadLibraryExW takes the LOAD_LIBRARY_SEARCH_* flags. Tests set it to false to see
  // the other way.
  bool search_flags;
};
// Looked up on the first call, which is the first library that the window loads, not start-up.
LibrarySearch& SystemLibrarySearch();

// Loads `name` from the system folder only, never from beside the program or the current
// folder, where anyone could have put a library of that name (one that this Windows lacks,
// such as shcore.dll on Windows 7, most of all). Throws std::runtime_error when it is not
// there.
Library LoadSystemLibrary(const wchar_t* name);

// A call from `library` under its own type, or null where the library has none of that name.
template <typename Function>
Function* FindOrNull(const Library& library, const char* name) noexcept {
  const FARPROC found = GetProcAddress(library.get(), name);
  // Through the generic function pointer type, which both GCC and MSVC take without a warning.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(found));
}

template <typename Function>
Function* Find(const Library& library, const char* name) {
  Function* const found = FindOrNull<Function>(library, name);
  if (found == nullptr) {
    throw std::runtime_error(std::string("the system has no ") + name);
  }
  return found;
}

}  // namespace kavoni

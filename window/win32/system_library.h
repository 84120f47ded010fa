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

inline Library LoadSystemLibrary(const wchar_t* name) {
  // Only from the system folder, never from beside the program or the current folder.
  Library library(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library) {
    throw std::runtime_error("cannot load a system library");
  }
  return library;
}

template <typename Function>
Function* Find(const Library& library, const char* name) {
  const FARPROC found = GetProcAddress(library.get(), name);
  if (found == nullptr) {
    throw std::runtime_error(std::string("the system has no ") + name);
  }
  // Through the generic function pointer type, which both GCC and MSVC take without a warning.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(found));
}

}  // namespace kavoni

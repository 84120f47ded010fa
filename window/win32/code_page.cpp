#include "window/win32/code_page.h"

#include <stdexcept>

namespace kavoni {

std::string ToCodePage(std::wstring_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  // UTF-8 can hold every character and takes neither flag; it refuses only broken UTF-16.
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* const used_default_out = utf8 ? nullptr : &used_default;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, nullptr,
                                       used_default_out);
  if (size <= 0 || used_default) {
    throw std::runtime_error("the name has a character that code page " +
                             std::to_string(code_page) + " cannot hold");
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(code_page, flags, text.data(), length, bytes.data(), size, nullptr,
                          used_default_out) != size) {
    throw std::runtime_error("the name could not be converted");
  }
  return bytes;
}

std::wstring FromCodePage(std::string_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (size <= 0) {
    throw std::runtime_error("text that code page " + std::to_string(code_page) + " cannot read");
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(code_page, 0, text.data(), length, wide.data(), size) != size) {
    throw std::runtime_error("the text could not be converted");
  }
  return wide;
}

}  // namespace kavoni

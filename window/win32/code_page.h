#pragma once

#include <string>
#include <string_view>

#include "window/win32/windows_api.h"

namespace kavoni {

// The sprite file holds the name in the system's ANSI code page (GetACP()), one byte per
// character where the code page has them. A character that the code page cannot hold is
// refused by throwing std::runtime_error: Windows would otherwise write "?" or a look-alike in
// its place without a word, and the file would not hold the name the user typed.
std::string ToCodePage(std::wstring_view text, UINT code_page);

// Text from the core, in `code_page`, for the wide calls.
std::wstring FromCodePage(std::string_view text, UINT code_page);

// The layout's texts, which are ASCII and so widen unit for unit, in any code page.
inline std::wstring WidenAscii(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace kavoni

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "window/win32/code_page.h"

namespace kavoni {
namespace {

// The name goes to the file in the ANSI code page, or not at all: never with "?" or a
// look-alike standing in for a character the code page lacks.
TEST(CodePage, NameIsWrittenInTheCodePageOrRefused) {
  const struct {
    const wchar_t* text;
    UINT code_page;
    const char* bytes;  // nullptr: refused
  } cases[] = {
      {L"ball", 1252, "ball"},
      {L"", 1252, ""},
      {L"caf\u00e9 \u20ac", 1252, "caf\xe9 \x80"},
      {L"\u2192", 1252, nullptr},  // an arrow: not in Western European
      {L"\u0100", 1252, nullptr},  // A with macron: best fit would write a plain A
      {L"\u0416", 1251, "\xc6"},   // Cyrillic Zhe in Cyrillic
      {L"\u0416", 1252, nullptr},
      {L"\u00e9\u2192", 65001, "\xc3\xa9\xe2\x86\x92"},
      {L"a\xd800z", 65001, nullptr},  // a lone surrogate is no character at all
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << row++ << ", code page " << c.code_page);
    if (c.bytes == nullptr) {
      EXPECT_THROW(ToCodePage(c.text, c.code_page), std::runtime_error);
    } else {
      EXPECT_EQ(ToCodePage(c.text, c.code_page), c.bytes);
      EXPECT_EQ(FromCodePage(c.bytes, c.code_page), c.text) << "and back";
    }
  }
}

}  // namespace
}  // namespace kavoni

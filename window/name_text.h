#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What both windows do to text that reaches the name box by pasting or by setting it: the
// name is one line of an assembler source, so it must hold no line break and no control
// character. Each becomes one space, and a CR LF pair one space in all, so the box shows
// exactly what will be written. Works on UTF-16 text of either window's string type.
namespace kavoni::name_text {

template <typename Char>
constexpr bool IsControl(Char c) {
  const auto code = static_cast<unsigned long>(c);
  return code < 0x20 || code == 0x7f;
}

template <typename Char>
bool NeedsFlattening(std::basic_string_view<Char> text) {
  for (const Char c : text) {
    if (IsControl(c)) {
      return true;
    }
  }
  return false;
}

template <typename Char>
std::basic_string<Char> Flatten(std::basic_string_view<Char> text) {
  std::basic_string<Char> flat;
  flat.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == Char('\r') && i + 1 < text.size() && text[i + 1] == Char('\n')) {
      ++i;
    }
    flat += IsControl(text[i]) ? Char(' ') : text[i];
  }
  return flat;
}

// Where a cursor at `position` in `text` lands once the text is flattened: after the same
// character, which a CR LF before it moves one place to the left.
template <typename Char>
std::size_t FlattenedPosition(std::basic_string_view<Char> text, std::size_t position) {
  return Flatten(text.substr(0, position)).size();
}

}  // namespace kavoni::name_text

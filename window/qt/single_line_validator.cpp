#include "window/qt/single_line_validator.h"

#include <string>
#include <string_view>

#include "window/name_text.h"

namespace kavoni {

QValidator::State SingleLineValidator::validate(QString& input, int& position) const {
  const std::u16string_view text(reinterpret_cast<const char16_t*>(input.utf16()),
                                 static_cast<std::size_t>(input.size()));
  if (name_text::NeedsFlattening(text)) {
    position =
        static_cast<int>(name_text::FlattenedPosition(text, static_cast<std::size_t>(position)));
    input = QString::fromStdU16String(name_text::Flatten(text));
  }
  return Acceptable;
}

}  // namespace kavoni

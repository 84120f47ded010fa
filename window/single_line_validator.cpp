#include "window/single_line_validator.h"

namespace kavoni {

namespace {

QString Flatten(const QString& text) {
  QString flat = text;
  // CR LF is one line break and so one space; a lone CR or LF is one too.
  flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
  flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return flat;
}

}  // namespace

QValidator::State SingleLineValidator::validate(QString& input, int& position) const {
  if (input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n'))) {
    // Keep the cursor after the same character once any CR LF before it shrinks to one space.
    position = static_cast<int>(Flatten(input.left(position)).size());
    input = Flatten(input);
  }
  return Acceptable;
}

}  // namespace kavoni

#pragma once

#include <QValidator>

namespace kavoni {

// Keeps a QLineEdit to one clean line: a line break or control character that arrives by
// pasting or setText becomes one space (see name_text.h), so what the box shows is exactly
// what gets written.
class SingleLineValidator final : public QValidator {
  Q_OBJECT

 public:
  using QValidator::QValidator;

  // Always Acceptable once flattened, so QLineEdit never needs fixup().
  State validate(QString& input, int& position) const override;
};

}  // namespace kavoni

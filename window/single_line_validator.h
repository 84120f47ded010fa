#pragma once

#include <QValidator>

namespace kavoni {

// Keeps a QLineEdit to one line: a line break that arrives by pasting or setText becomes one
// space, so what the box shows is exactly what gets written.
class SingleLineValidator final : public QValidator {
  Q_OBJECT

 public:
  using QValidator::QValidator;

  // Always Acceptable once flattened, so QLineEdit never needs fixup().
  State validate(QString& input, int& position) const override;
};

}  // namespace kavoni

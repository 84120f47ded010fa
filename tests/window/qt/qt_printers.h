#pragma once

#include <QString>
#include <QStringList>
#include <ostream>

// Lets GoogleTest show Qt strings as text in failure messages instead of raw bytes. They must
// live in QString's own (global) namespace to be found.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out) {
  *out << '{';
  for (qsizetype i = 0; i < list.size(); ++i) {
    *out << (i == 0 ? "" : ", ") << '"' << list[i].toStdString() << '"';
  }
  *out << '}';
}

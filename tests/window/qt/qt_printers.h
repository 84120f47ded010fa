#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
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

inline void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << " x " << size.height();
}

inline void PrintTo(const QPoint& point, std::ostream* out) {
  *out << '(' << point.x() << ", " << point.y() << ')';
}

inline void PrintTo(const QRect& rect, std::ostream* out) {
  *out << rect.width() << " x " << rect.height() << " at (" << rect.x() << ", " << rect.y() << ')';
}

inline void PrintTo(const QMargins& margins, std::ostream* out) {
  *out << "left " << margins.left() << ", top " << margins.top() << ", right " << margins.right()
       << ", bottom " << margins.bottom();
}

#pragma once

#include <QRect>

#include "window/layout.h"

namespace kavoni::layout {

// Qt's device-independent pixels are 1/96 inch, so the layout converts at the base DPI and
// Qt's own scaling takes HiDPI screens from there.
inline QRect ToQRect(TwipsRect twips) {
  const PixelRect r = ToPixels(twips);
  return QRect(r.left, r.top, r.width, r.height);
}

}  // namespace kavoni::layout

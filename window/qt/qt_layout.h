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

// The title strip that the window draws itself where the compositor draws no title bar (see
// TitleBarIsOurs()), as wide as the client area and above it. The client area keeps its own
// layout below the strip, so every control keeps its place within it.
inline constexpr int kTitleButtonSize = 360;
inline constexpr TwipsRect kTitleStrip{0, 0, kClientArea.width, kTitleButtonSize};
inline constexpr TwipsRect kTitleClose{kClientArea.width - kTitleButtonSize, 0, kTitleButtonSize,
                                       kTitleButtonSize};
inline constexpr TwipsRect kTitleMinimise{kTitleClose.left - kTitleButtonSize, 0, kTitleButtonSize,
                                          kTitleButtonSize};
inline constexpr TwipsRect kTitleCaption{90, 0, kTitleMinimise.left - 90, kTitleButtonSize};
inline constexpr TwipsRect kClientAreaBelowStrip{0, kTitleStrip.height, kClientArea.width,
                                                 kClientArea.height};

}  // namespace kavoni::layout

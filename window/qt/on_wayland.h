#pragma once

#include <QGuiApplication>
#include <QLatin1String>

namespace kavoni {

// Whether the program runs on Qt's Wayland platform, which answers to "wayland" and to
// "wayland-egl" (and to any name of that family a QT_QPA_PLATFORM may give).
inline bool OnWayland() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace kavoni

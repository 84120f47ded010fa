#include "window/qt/x11_fixed_size.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kavoni {

namespace {

// The Motif window manager hints, as window managers read them from _MOTIF_WM_HINTS.
constexpr std::uint32_t kHintsFunctions = 1u << 0;
constexpr std::uint32_t kHintsDecorations = 1u << 1;
constexpr std::uint32_t kFunctionMove = 1u << 2;
constexpr std::uint32_t kFunctionMinimize = 1u << 3;
constexpr std::uint32_t kFunctionClose = 1u << 5;
constexpr std::uint32_t kDecorationBorder = 1u << 1;
constexpr std::uint32_t kDecorationTitle = 1u << 3;
constexpr std::uint32_t kDecorationMenu = 1u << 4;
constexpr std::uint32_t kDecorationMinimize = 1u << 5;

}  // namespace

void AdvertiseFixedSize(QWidget& window) {
  // Only Qt's own X11 platform: the offscreen one, for one, answers for X11 too, with no
  // connection of its own.
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (QGuiApplication::platformName() != QLatin1String("xcb") || x11 == nullptr ||
      x11->connection() == nullptr) {
    return;
  }
  xcb_connection_t* connection = x11->connection();
  constexpr char kName[] = "_MOTIF_WM_HINTS";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr);
  if (atom == nullptr) {
    return;
  }
  // flags, functions, decorations, input mode, status
  const std::array<std::uint32_t, 5> hints = {
      kHintsFunctions | kHintsDecorations, kFunctionMove | kFunctionMinimize | kFunctionClose,
      kDecorationBorder | kDecorationTitle | kDecorationMenu | kDecorationMinimize, 0, 0};
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                      atom->atom, atom->atom, 32, hints.size(), hints.data());
  xcb_flush(connection);
  std::free(atom);
}

}  // namespace kavoni

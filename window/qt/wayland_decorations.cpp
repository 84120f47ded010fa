#include "window/qt/wayland_decorations.h"

#include <wayland-util.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtWaylandClient/QWaylandClientExtension>

namespace kavoni {

namespace {

// Only the name is compared with the globals; the manager itself is never bound, so no
// requests or events need describing.
const wl_interface kDecorationManager{"zxdg_decoration_manager_v1", 1, 0, nullptr, 0, nullptr};

// Notes whether the compositor advertises the decoration manager. Qt's registry hands an
// extension every global it has already received as soon as the extension registers, so the
// answer is there when initialize() returns.
class DecorationManagerProbe final : public QWaylandClientExtension {
 public:
  DecorationManagerProbe() : QWaylandClientExtension(1) {
    // Kept for as long as Qt's registry, which holds on to it.
    setParent(QCoreApplication::instance());
    initialize();
  }

  bool advertised() const { return advertised_; }

  const wl_interface* extensionInterface() const override { return &kDecorationManager; }
  void bind(wl_registry* /*registry*/, int /*id*/, int /*version*/) override { advertised_ = true; }

 private:
  bool advertised_ = false;
};

}  // namespace

bool TitleBarIsOurs() {
  // Qt's Wayland platform answers to both names; QWaylandClientExtension must not be made on
  // any other platform, where it would set up a Wayland integration of its own.
  static const bool kOurs = [] {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
      return false;
    }
    return !(new DecorationManagerProbe)->advertised();
  }();
  return kOurs;
}

}  // namespace kavoni

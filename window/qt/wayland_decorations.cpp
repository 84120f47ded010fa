#include "window/qt/wayland_decorations.h"

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <QByteArray>
#include <QGuiApplication>
#include <cstdint>
#include <cstring>
#include <memory>

#include "window/qt/on_wayland.h"

namespace kavoni {

namespace {

struct Globals {
  bool decoration_manager = false;
};

void OnGlobal(void* data, wl_registry* /*registry*/, std::uint32_t /*name*/, const char* interface,
              std::uint32_t /*version*/) {
  if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) {
    static_cast<Globals*>(data)->decoration_manager = true;
  }
}

void OnGlobalRemove(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}

constexpr wl_registry_listener kGlobalsListener{&OnGlobal, &OnGlobalRemove};

struct QueueDestroy {
  void operator()(wl_event_queue* queue) const { wl_event_queue_destroy(queue); }
};
struct WrapperDestroy {
  void operator()(wl_display* wrapper) const { wl_proxy_wrapper_destroy(wrapper); }
};
struct RegistryDestroy {
  void operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
};

// Qt's own connection, so that the globals are those of the compositor that shows the window.
// Qt 6.4 hands it out only through its platform's native interface.
wl_display* QtsDisplay() {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (native == nullptr) {
    return nullptr;
  }
  return static_cast<wl_display*>(
      native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")));
}

// Lists the compositor's globals once, on a queue of the program's own, so that Qt's thread,
// which reads the same connection, never sees these events and the registry never outlives
// the answer. False if the connection fails, which Qt then reports in its own way.
bool AdvertisesDecorationManager(wl_display* display) {
  const std::unique_ptr<wl_event_queue, QueueDestroy> queue(wl_display_create_queue(display));
  const std::unique_ptr<wl_display, WrapperDestroy> wrapper(
      static_cast<wl_display*>(wl_proxy_create_wrapper(display)));
  if (!queue || !wrapper) {
    return false;
  }
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper.get()), queue.get());
  const std::unique_ptr<wl_registry, RegistryDestroy> registry(
      wl_display_get_registry(wrapper.get()));
  if (!registry) {
    return false;
  }
  Globals globals;
  wl_registry_add_listener(registry.get(), &kGlobalsListener, &globals);
  if (wl_display_roundtrip_queue(display, queue.get()) < 0) {
    return false;
  }
  return globals.decoration_manager;
}

}  // namespace

bool TitleBarIsOurs() {
  static const bool kOurs = [] {
    if (!OnWayland()) {
      return false;
    }
    wl_display* display = QtsDisplay();
    return display != nullptr && !AdvertisesDecorationManager(display);
  }();
  return kOurs;
}

}  // namespace kavoni

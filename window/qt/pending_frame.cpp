#include "window/qt/pending_frame.h"

#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "window/qt/on_wayland.h"

namespace kavoni {

namespace {

// An answer usually takes one frame (about 16 ms); mutter took 67 to 106 ms here for the first
// frame after the window has been idle a while. A compositor that takes longer still is most
// likely showing the window nowhere, and may send no answer at all.
constexpr int kLongestWaitMs = 500;

// Ends the wait on the window's next update request. Qt's Wayland plugin holds that request
// back while a frame is unanswered and hands it over once the answer has been handled.
class UpdateRequestWatch final : public QObject {
 public:
  UpdateRequestWatch(QWindow& window, QEventLoop& loop) : window_(window), loop_(loop) {
    window_.installEventFilter(this);
  }
  ~UpdateRequestWatch() override { window_.removeEventFilter(this); }
  UpdateRequestWatch(const UpdateRequestWatch&) = delete;
  UpdateRequestWatch& operator=(const UpdateRequestWatch&) = delete;

  bool arrived() const { return arrived_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_ && event->type() == QEvent::UpdateRequest) {
      arrived_ = true;
      loop_.quit();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWindow& window_;
  QEventLoop& loop_;
  bool arrived_ = false;
};

// Keeps the widget from painting, and so from committing a frame, while it waits.
class UpdatesHeld {
 public:
  explicit UpdatesHeld(QWidget& widget) : widget_(widget), enabled_(widget.updatesEnabled()) {
    widget_.setUpdatesEnabled(false);
  }
  ~UpdatesHeld() { widget_.setUpdatesEnabled(enabled_); }
  UpdatesHeld(const UpdatesHeld&) = delete;
  UpdatesHeld& operator=(const UpdatesHeld&) = delete;

 private:
  QWidget& widget_;
  bool enabled_;
};

}  // namespace

bool AwaitPendingFrame(QWidget& window) {
  QWindow* native = window.windowHandle();
  if (!OnWayland() || native == nullptr || !window.isVisible()) {
    return true;
  }
  const UpdatesHeld held(window);
  QEventLoop loop;
  const UpdateRequestWatch watch(*native, loop);
  QTimer::singleShot(kLongestWaitMs, &loop, &QEventLoop::quit);
  native->requestUpdate();
  // Input waits: a key or click would act on a window about to go.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!watch.arrived()) {
    return false;
  }
  // The frame thread hands the request over while it still holds the window's frame lock, and
  // lets the lock go a moment later; a window destroyed in between takes the locked mutex with
  // it (a segfault after "QMutex: destroying locked mutex"). Asking for the next update takes
  // that lock, so once the call returns the thread is done with the window. The update it asks
  // for draws nothing on a window that has gone by then.
  native->requestUpdate();
  return true;
}

}  // namespace kavoni

#include "window/qt/one_size.h"

#include <QEvent>
#include <QObject>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "window/qt/on_wayland.h"

namespace kavoni {

namespace {

constexpr Qt::WindowStates kResizing = Qt::WindowMaximized | Qt::WindowFullScreen;

// Follows the window's state: the state that the title bar or the program asks for (a signal,
// before the desktop has answered), and the state that the desktop reports (an event, once Qt
// has applied and acknowledged it).
//
// On Wayland a maximised window must take exactly the size that the compositor gives it, and a
// full-screen one may be smaller. When the program itself asks to maximise, the maximum size is
// lifted first, so the window takes the size when it comes. A compositor that orders it on its
// own (Weston, on Super+Shift+M) whatever the maximum says finds the window's maximum in place:
// Qt has then already acknowledged the state at the fixed size before the program hears of it,
// and every frame from there on, even the one that lifting the maximum commits, would end the
// connection. So the window is shown anew, which leaves that state without a frame, and keeps
// its maximum lifted from then on, for such a compositor: the next maximised state it takes.
class OneSizeKeeper final : public QObject {
 public:
  OneSizeKeeper(QWidget& widget, QWindow& window)
      : QObject(&window), widget_(widget), window_(window) {
    window.installEventFilter(this);
    connect(&window, &QWindow::windowStateChanged, this, &OneSizeKeeper::Requested,
            Qt::DirectConnection);
    fallback_.setSingleShot(true);
    fallback_.setInterval(1000);
    connect(&fallback_, &QTimer::timeout, this, &OneSizeKeeper::FixSize);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_) {
      if (event->type() == QEvent::WindowStateChange && event->spontaneous()) {
        Granted();
      } else if (event->type() == QEvent::Resize && event->spontaneous() && lifted_for_good_ &&
                 !(window_.windowStates() & kResizing) &&
                 static_cast<QResizeEvent*>(event)->size() != fixed_size_) {
        // A size the compositor suggests outside those states: the window keeps its own.
        QTimer::singleShot(0, this, &OneSizeKeeper::FixSize);
      } else if (event->type() == QEvent::UpdateRequest && undo_pending_) {
        // After the frame that this update draws, so that the compositor has seen the window
        // take the state before it is asked to undo it; a compositor answers an undoing that
        // comes before with nothing, which would leave the window in that state.
        undo_pending_ = false;
        QTimer::singleShot(0, this, &OneSizeKeeper::Undo);
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  // Called as a request goes out, and again as Qt reports the state that the desktop applied,
  // which Granted() has already seen. On Wayland the window may then take the maximised size
  // that the compositor answers the request with.
  void Requested() {
    if (window_.windowStates() == reported_ || !(window_.windowStates() & Qt::WindowMaximized) ||
        fixed_size_.isValid() || !OnWayland()) {
      return;
    }
    LiftMaximumSize();
    // A compositor may ignore the request, as it may for a window of one size.
    fallback_.start();
  }

  // Called once the desktop has applied a state.
  void Granted() {
    const Qt::WindowStates states = window_.windowStates();
    reported_ = states;
    if (!(states & Qt::WindowMaximized)) {
      // Its own size in a plain state, and in a full screen, which may be smaller than the
      // screen.
      FixSize();
    }
    if (!(states & kResizing)) {
      // Drawn afresh, so that the compositor has a frame for the state it configured (KWin
      // shows a stale state until one comes).
      asked_to_leave_ = false;
      accepted_ = Qt::WindowNoState;
      widget_.update();
      return;
    }
    if ((states & Qt::WindowMaximized) && !fixed_size_.isValid() && OnWayland()) {
      ShowAnewWithoutMaximum();
      return;
    }
    if (asked_to_leave_) {
      // The compositor answered the request to leave with the state again, as a kiosk does:
      // the window stays so, and is not asked again until the compositor itself changes it.
      asked_to_leave_ = false;
      accepted_ = states & kResizing;
    }
    widget_.update();
    if (states & kResizing & ~accepted_) {
      // Taken, the controls where they always are: undone after the next frame.
      undo_pending_ = true;
      window_.requestUpdate();
    }
  }

  void ShowAnewWithoutMaximum() {
    lifted_for_good_ = true;
    widget_.hide();
    LiftMaximumSize();
    widget_.show();
  }

  void Undo() {
    const Qt::WindowStates states = window_.windowStates();
    const Qt::WindowStates undone = states & kResizing & ~accepted_;
    if (undone) {
      asked_to_leave_ = true;
      window_.setWindowStates(states & ~undone);
    }
  }

  void LiftMaximumSize() {
    if (!fixed_size_.isValid()) {
      fixed_size_ = widget_.maximumSize();
      widget_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
  }

  void FixSize() {
    fallback_.stop();
    if (!fixed_size_.isValid()) {
      return;
    }
    // Through the native window, whose new size the widget may not have heard of yet.
    window_.resize(fixed_size_);
    if (!lifted_for_good_) {
      widget_.setMaximumSize(fixed_size_);
      fixed_size_ = QSize();
    }
  }

  QWidget& widget_;
  QWindow& window_;
  QTimer fallback_;
  // The states last reported by the desktop.
  Qt::WindowStates reported_ = Qt::WindowNoState;
  bool undo_pending_ = false;
  // Asked to leave a maximised or full-screen state, and not yet answered with another.
  bool asked_to_leave_ = false;
  // The states that the compositor insists on, kept until it changes them.
  Qt::WindowStates accepted_ = Qt::WindowNoState;
  // The compositor orders maximised states whatever the maximum size says.
  bool lifted_for_good_ = false;
  // The fixed size while the maximum is lifted, or invalid.
  QSize fixed_size_;
};

}  // namespace

void KeepOneSize(QWidget& window) {
  // Makes the native window, and with it the QWindow whose state the title bar changes.
  window.winId();
  new OneSizeKeeper(window, *window.windowHandle());
}

}  // namespace kavoni

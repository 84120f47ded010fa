#include "window/qt/one_size.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace kavoni {

namespace {

constexpr Qt::WindowStates kResizing = Qt::WindowMaximized | Qt::WindowFullScreen;

// Follows the window's state: the state that the title bar or the program asks for (a signal,
// before the desktop has answered), and the state that the desktop reports (an event).
class OneSizeKeeper final : public QObject {
 public:
  explicit OneSizeKeeper(QWindow& window) : QObject(&window), window_(window) {
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
  // Called as the request goes out. On Wayland the window may then take the maximised size
  // the compositor answers with; the request and this go to the compositor together.
  void Requested() {
    if (!(window_.windowStates() & Qt::WindowMaximized) || fixed_size_.isValid() ||
        QGuiApplication::platformName() != QLatin1String("wayland")) {
      return;
    }
    fixed_size_ = window_.maximumSize();
    window_.setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    // A compositor may ignore the request, as it may for a window of one size.
    fallback_.start();
  }

  // Called once the desktop has applied a state: a maximised or full-screen one is undone
  // after the next frame, and a plain one gets the fixed size back.
  void Granted() {
    if (window_.windowStates() & kResizing) {
      undo_pending_ = true;
      window_.requestUpdate();
    } else {
      FixSize();
    }
  }

  void Undo() {
    const Qt::WindowStates states = window_.windowStates();
    if (states & kResizing) {
      window_.setWindowStates(states & ~kResizing);
    }
  }

  void FixSize() {
    fallback_.stop();
    if (fixed_size_.isValid()) {
      window_.setMaximumSize(fixed_size_);
      fixed_size_ = QSize();
    }
  }

  QWindow& window_;
  QTimer fallback_;
  bool undo_pending_ = false;
  // The maximum size while it is lifted, or invalid.
  QSize fixed_size_;
};

}  // namespace

void KeepOneSize(QWidget& window) {
  // Makes the native window, and with it the QWindow whose state the title bar changes.
  window.winId();
  new OneSizeKeeper(*window.windowHandle());
}

}  // namespace kavoni

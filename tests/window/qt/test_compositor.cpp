#include <sys/resource.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "modal_driver.h"
#include "scratch_home.h"
#include "support/temp_dir.h"
#include "window/qt/pending_frame.h"
#include "window_fixture.h"

// The window under the compositor that tests/window/qt/on_compositor.sh started: whatever
// states it orders, the window lives on at its one size, idles at no cost, and saves by
// keyboard. The compositors are that script's rows; these cases run under each.
namespace kavoni::testing {
namespace {

QString Compositor() {
  return qEnvironmentVariable("KAVONI_COMPOSITOR");
}

// Lets the event loop run, doing nothing else, as an idle program does.
void Idle(std::chrono::milliseconds time) {
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  loop.exec();
}

std::chrono::microseconds CpuTime() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// While it lives, the window closing does not quit the application, which would end the event
// loops of every case after it.
class KeepsRunningWhenClosed {
 public:
  KeepsRunningWhenClosed() { QGuiApplication::setQuitOnLastWindowClosed(false); }
  ~KeepsRunningWhenClosed() { QGuiApplication::setQuitOnLastWindowClosed(true); }
  KeepsRunningWhenClosed(const KeepsRunningWhenClosed&) = delete;
  KeepsRunningWhenClosed& operator=(const KeepsRunningWhenClosed&) = delete;
};

class CompositorTest : public WindowTest {
 protected:
  void SetUp() override {
    if (Compositor().isEmpty()) {
      GTEST_SKIP() << "not on a compositor of on_compositor.sh";
    }
    WindowTest::SetUp();
    // The compositor's first states (a kiosk's full screen) applied and answered.
    Idle(std::chrono::milliseconds(500));
  }

  // Sends a line of keys or clicks through the compositor's own seat; false where the
  // compositor has none that the tests can drive.
  static bool Send(const std::string& command) {
    const QByteArray fifo = qgetenv("KAVONI_WESTON_INPUT");
    if (fifo.isEmpty()) {
      return false;
    }
    std::ofstream(fifo.constData()) << command << '\n';
    return true;
  }

  // The state that the compositor leaves the window in for good: full screen under a kiosk,
  // which orders it for every window; its own state anywhere else.
  static Qt::WindowStates SettledState() {
    return Compositor() == QLatin1String("weston-kiosk") ? Qt::WindowFullScreen : Qt::WindowNoState;
  }

  void ExpectOneSize(const std::string& after) {
    EXPECT_EQ(ClientArea()->size(), QSize(131, 292)) << after;
    EXPECT_EQ(ClientArea()->mapTo(window_.get(), QPoint()),
              QPoint(0, StripExpected() ? kStripHeight : 0))
        << after;
    // The maximum, lifted for good where the compositor orders maximised states, is checked
    // before it orders any.
    EXPECT_EQ(window_->windowHandle()->size(), window_->minimumSize()) << after;
    EXPECT_EQ(window_->windowHandle()->windowStates() & ~Qt::WindowActive, SettledState()) << after;
    EXPECT_EQ(Cell(63)->geometry(), QRect(112, 160, 17, 17)) << after;
    EXPECT_EQ(Button()->geometry(), QRect(0, 184, 129, 105)) << after;
    EXPECT_TRUE(window_->isVisible()) << after;
  }
};

// Weston's own bindings: maximise and full screen, ordered by the compositor, not asked for
// by the program. A window that does not take a configured maximised size is ended by the
// compositor, and so is this test.
TEST_F(CompositorTest, LivesThroughEveryMaximiseAndFullScreenTheCompositorOrders) {
  for (const char* chord : {"super+shift+m", "super+shift+f", "super+shift+m", "super+shift+m",
                            "super+shift+f", "super+shift+f"}) {
    if (!Send(std::string("key ") + chord)) {
      GTEST_SKIP() << "no seat to send Weston's bindings on " << Compositor().toStdString();
    }
    Idle(std::chrono::milliseconds(700));
    ExpectOneSize(chord);
  }
}

// Qt's own title bar, which it draws where the compositor draws none, offers maximise on every
// window and makes the surface larger than the size limits it sends. On every compositor the
// surface is exactly the size that the window's limits say, and the title bar, the window's own
// strip where the compositor leaves it to the window, offers minimise and close only (KWin's
// own leaves out maximise for a window of one size).
TEST_F(CompositorTest, OffersNoMaximiseAndItsSurfaceIsItsSizeLimits) {
  QWindow* window = window_->windowHandle();
  EXPECT_EQ(window->frameMargins(), QMargins()) << "Qt draws a title bar of its own";
  EXPECT_EQ(window->frameGeometry().size(), window_->minimumSize());
  EXPECT_EQ(window->frameGeometry().size(), window_->maximumSize());
  ExpectOneSize("start");
  if (!StripExpected()) {
    EXPECT_EQ(Strip(), nullptr) << "a second title bar under the compositor's";
    return;
  }
  ASSERT_NE(Strip(), nullptr) << "no title bar where the compositor draws none";
  QStringList buttons;
  for (const QAbstractButton* button : Strip()->findChildren<QAbstractButton*>()) {
    buttons << button->accessibleName();
  }
  // In the words of Qt's own catalogue, in the desktop's language.
  EXPECT_EQ(buttons, QStringList({QCoreApplication::translate("QMdiSubWindow", "Minimize"),
                                  QCoreApplication::translate("QMdiSubWindow", "Close")}));
}

// A click on the strip's close button, through the compositor's seat, closes the window; it
// lands where the compositor places the surface, so the strip is where the compositor sees it.
TEST_F(CompositorTest, ClosesFromItsTitleStrip) {
  if (!StripExpected()) {
    GTEST_SKIP() << Compositor().toStdString() << " draws the title bar";
  }
  ASSERT_NE(Strip(), nullptr) << "no title bar where the compositor draws none";
  const auto* close = Strip()->findChild<QAbstractButton*>(QStringLiteral("TitleClose"));
  ASSERT_NE(close, nullptr);
  // Clicks on this very button, not on a title bar that Qt would draw in the same place.
  int clicks = 0;
  QObject::connect(close, &QAbstractButton::clicked, [&clicks] { ++clicks; });
  const KeepsRunningWhenClosed running;
  const QPoint centre = close->mapTo(window_.get(), close->rect().center());
  if (!Send("click " + std::to_string(centre.x()) + ' ' + std::to_string(centre.y()) + " Kavoni")) {
    GTEST_SKIP() << "no seat to click with on " << Compositor().toStdString();
  }
  for (int wait = 0; wait < 50 && window_->isVisible(); ++wait) {
    Idle(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(window_->isVisible()) << "still open after a click on its close button";
}

// A kiosk orders full screen again whenever the window leaves it; the window must neither
// fight it for as long as it runs nor spin. Idle, it costs next to nothing anywhere.
TEST_F(CompositorTest, SettlesAtNoIdleCost) {
  ExpectOneSize("start");
  const std::chrono::microseconds before = CpuTime();
  Idle(std::chrono::seconds(2));
  const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(CpuTime() - before);
  // 1 % of a core; fighting a kiosk costs 3 %.
  EXPECT_LT(used.count(), 20) << "ms of CPU time in 2 s of idling";
  ExpectOneSize("idling");
}

// Notes whether the window has drawn since the desktop last applied a state to it.
class FrameAfterState final : public QObject {
 public:
  explicit FrameAfterState(QWidget& widget) : widget_(widget) {
    widget.installEventFilter(this);
    widget.windowHandle()->installEventFilter(this);
  }
  bool drawn() const { return drawn_; }
  int states() const { return states_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowStateChange && event->spontaneous() &&
        watched == widget_.windowHandle()) {
      drawn_ = false;
      ++states_;
    } else if (event->type() == QEvent::Paint && watched == &widget_) {
      drawn_ = true;
    }
    return false;
  }

 private:
  QWidget& widget_;
  bool drawn_ = true;
  int states_ = 0;
};

// Each state that the compositor configures and Qt acknowledges is answered with a frame: KWin
// keeps showing a full-screen window without its title bar until one comes.
TEST_F(CompositorTest, DrawsAFrameForEveryStateItIsGiven) {
  const FrameAfterState frames(*window_);
  QWindow* window = window_->windowHandle();
  for (Qt::WindowState state : {Qt::WindowFullScreen, Qt::WindowMaximized}) {
    window->setWindowStates(state);
    Idle(std::chrono::milliseconds(700));
    EXPECT_TRUE(frames.drawn()) << state << ", after " << frames.states() << " states";
  }
  ExpectOneSize("the requests undone");
}

// Counts the paintings of a widget.
class Paintings final : public QObject {
 public:
  explicit Paintings(QWidget& widget) { widget.installEventFilter(this); }
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++count_;
    }
    return false;
  }

 private:
  int count_ = 0;
};

// A window that goes waits until the compositor has answered its last frame, which Qt's
// Wayland plugin would otherwise race for with its frame thread, and draws nothing while it
// waits: a cell ticked meanwhile is drawn only after.
TEST_F(CompositorTest, WaitsForTheAnswerToItsLastFrameBeforeItGoes) {
  for (int round = 0; round < 5; ++round) {
    Cell(round)->click();
    window_->repaint();
    const Paintings paintings(*Cell(63));
    QTimer::singleShot(0, Cell(63), &QAbstractButton::click);
    EXPECT_TRUE(AwaitPendingFrame(*window_)) << "round " << round << ": no answer in time";
    EXPECT_EQ(paintings.count(), 0) << "round " << round << ": drawn while waiting";
    EXPECT_TRUE(Cell(63)->isChecked() == (round % 2 == 0)) << "round " << round;
    EXPECT_TRUE(window_->updatesEnabled()) << "round " << round;
    window_->repaint();
    EXPECT_GT(paintings.count(), 0) << "round " << round << ": not drawn after the wait";
  }
}

// Keys through the compositor's seat, after the states it orders: Space on the focused first
// cell, Tab along the grid to the button, Enter, and a file name typed into the dialog.
TEST_F(CompositorTest, SavesByKeyboardAfterTheStatesItOrders) {
  TempDir dir;
  ScratchHome home(dir);
  std::filesystem::create_directory(dir.path() / "Desktop");
  ModalDriver driver;
  driver.Then([](QWidget* modal) {
    ASSERT_NE(qobject_cast<QFileDialog*>(modal), nullptr) << "expected the save dialog";
    // The dialog takes keys once the compositor has given it the focus.
    Idle(std::chrono::milliseconds(500));
    Send("key k e y s Return");
  });
  if (!Send("key super+shift+m super+shift+f")) {
    GTEST_SKIP() << "no seat to send keys on " << Compositor().toStdString();
  }
  Idle(std::chrono::milliseconds(1000));
  std::string keys = "key space";
  for (int cell = 0; cell < 64; ++cell) {
    keys += " Tab";
  }
  Send(keys + " Return");
  const std::filesystem::path saved = dir.path() / "Desktop" / "keys.txt";
  for (int wait = 0; wait < 100 && !std::filesystem::exists(saved); ++wait) {
    Idle(std::chrono::milliseconds(100));
  }
  std::string expected = "\r\n   .db %10000000\r\n";
  for (int row = 1; row < 8; ++row) {
    expected += "   .db %00000000\r\n";
  }
  EXPECT_EQ(ReadBytes(saved), expected);
  EXPECT_EQ(driver.unexpected_modals(), 0);
  EXPECT_TRUE(driver.all_steps_ran()) << "the dialog never opened";
  ExpectOneSize("saving");
}

}  // namespace
}  // namespace kavoni::testing

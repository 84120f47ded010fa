// Hides and shows a constantly redrawn window, thousands of times, at random moments after its
// frames, on the Wayland compositor of WAYLAND_DISPLAY: each hide either waits for the last
// frame's answer as the program's windows do (AwaitPendingFrame), or, with --plain, goes at
// once. Without the wait Qt 6.4 aborts now and then in libwayland (wl_proxy_unref); the
// process then ends by SIGABRT before it prints its line.
//
// usage: hide_race [--plain|--wait] [CYCLES]   (run several at once, on a busy machine, to see it)
#include <QApplication>
#include <QColor>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "window/qt/pending_frame.h"

namespace {

class Flicker final : public QWidget {
 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter(this).fillRect(rect(), QColor::fromHsv((++frames_ * 7) % 360, 200, 200));
  }

 private:
  int frames_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  bool plain = false;
  int cycles = 4000;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--plain" || argument == "--wait") {
      plain = argument == "--plain";
    } else {
      cycles = std::stoi(argument);
    }
  }
  Flicker window;
  window.resize(100, 100);
  window.show();
  QTimer redraw;
  redraw.setInterval(1);
  QObject::connect(&redraw, &QTimer::timeout, &window, [&window] { window.update(); });
  redraw.start();
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause_ms(0, 20);
  int done = 0;
  int unanswered = 0;
  std::function<void()> cycle = [&] {
    if (!plain && !kavoni::AwaitPendingFrame(window)) {
      ++unanswered;
    }
    window.hide();
    if (++done == cycles) {
      std::printf("%s: %d hides, %d without an answer in time\n", plain ? "plain" : "waiting", done,
                  unanswered);
      // Hidden for good: a window destroyed with a frame unanswered races the same thread.
      QApplication::quit();
      return;
    }
    window.show();
    QTimer::singleShot(pause_ms(random), &window, cycle);
  };
  QTimer::singleShot(50, &window, cycle);
  return QApplication::exec();
}

#pragma once

namespace kavoni {

// Stands by while QApplication opens the display. When Qt can open none (no DISPLAY or
// WAYLAND_DISPLAY, a display that does not answer, a platform plugin that is not installed), Qt
// gives up with a fatal message and aborts; instead, one line saying that no display could be
// opened goes to stderr and the program exits with status 1. Qt's other messages of that moment
// are held back, and passed on once the display is open, so that a failure prints that one
// line alone.
class NoDisplayExit {
 public:
  NoDisplayExit();
  // Passes the held messages on and puts back the message handler it replaced.
  ~NoDisplayExit();
  NoDisplayExit(const NoDisplayExit&) = delete;
  NoDisplayExit& operator=(const NoDisplayExit&) = delete;
};

}  // namespace kavoni

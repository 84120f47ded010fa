#pragma once

class QWidget;

namespace kavoni {

// Waits, before a window is hidden or closed on Wayland, until the compositor has answered the
// last frame the window committed, and commits no new one meanwhile. Qt 6.4's Wayland plugin
// destroys that frame's callback on hiding while its frame thread may be destroying the same
// callback as the answer comes in; the program then aborts in libwayland (wl_proxy_unref).
// Once the answer has been handled there is no callback left to race for, and once the frame
// thread has let go of the window's frame lock the window may be destroyed as well.
//
// Returns at once elsewhere, or for a window that is not shown; on Wayland after the answer,
// or after half a second for a compositor that sends none (one that shows the window nowhere),
// since the hide may not wait on it for ever. True when no frame is left unanswered.
bool AwaitPendingFrame(QWidget& window);

}  // namespace kavoni

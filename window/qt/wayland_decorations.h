#pragma once

namespace kavoni {

// Whether the window's title bar is the program's to draw: on Wayland, where the compositor
// offers no server-side decorations (no zxdg_decoration_manager_v1: Weston, mutter, GNOME
// Shell). Qt would draw its own there, with a maximise button on every window and a surface
// larger than the size limits it sends. False on X11 and offscreen, where the window manager or
// nobody draws it, and on compositors that decorate windows themselves (KWin, sway).
//
// Answered from the globals of Qt's own connection, in one round trip before the window is
// first shown, so that it never shows with the wrong title bar. Asked once a process; where the
// answer cannot be had, Qt's own title bar stays.
bool TitleBarIsOurs();

}  // namespace kavoni

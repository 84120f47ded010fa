#pragma once

namespace kavoni {

// Whether the window's title bar is the program's to draw: on Wayland, where the compositor
// offers no server-side decorations (no zxdg_decoration_manager_v1: Weston, mutter, GNOME
// Shell). Qt would draw its own there, with a maximise button on every window and a surface
// larger than the size limits it sends. False on X11 and offscreen, where the window manager or
// nobody draws it, and on compositors that decorate windows themselves (KWin, sway).
//
// Answered from the globals that Qt's own connection has already received, so it costs no
// round trip and is known before the window is first shown. Asked once a process.
bool TitleBarIsOurs();

}  // namespace kavoni

#pragma once

class QWidget;

namespace kavoni {

// Tells an X11 window manager that `window` can be moved, minimised and closed, and nothing
// more. Qt always advertises resizing in the window's Motif hints, so window managers that
// read them (openbox, among others) offer to maximise or resize a window of one fixed size.
// Does nothing on other platforms, such as Wayland, where Qt's flags already say it all.
void AdvertiseFixedSize(QWidget& window);

}  // namespace kavoni

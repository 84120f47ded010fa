#pragma once

class QWidget;

namespace kavoni {

// Keeps `window` at its one size: a request to maximise it or make it full-screen is undone as
// soon as the desktop has granted it. Where the compositor draws no title bars (Weston, and
// GNOME's for Qt programs), Qt draws its own on Wayland, and it offers maximise on every window.
// A Wayland compositor ends the connection of a client whose maximised window does not take the
// size it was given, so there the window does take it, for as long as it takes to ask the
// compositor to undo it, and then returns to its one size.
void KeepOneSize(QWidget& window);

}  // namespace kavoni

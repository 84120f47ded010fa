#pragma once

class QWidget;

namespace kavoni {

// Keeps `window` at its one size: a request to maximise it or make it full-screen is undone as
// soon as the desktop has granted it. The window offers no maximise itself, but a compositor may
// order it (Weston's Super+Shift+M) and a program may ask for it. A Wayland compositor ends the
// connection of a client whose maximised window does not take the
// size it was given, so there the window does take it, for as long as it takes to ask the
// compositor to undo it, and then returns to its one size.
void KeepOneSize(QWidget& window);

}  // namespace kavoni

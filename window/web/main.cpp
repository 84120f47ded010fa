// What the page's script calls in the core. The page is there before the core starts (its
// markup was made from the layout when it was built), so there is no main(): the script wires
// the controls to these once the module is ready.
#include <emscripten.h>

#include <string>
#include <string_view>

#include "sprite/command.h"
#include "window/layout.h"
#include "window/name_text.h"
#include "window/web/kavoni_page.h"

extern "C" {

// A press of the button: runs the command to its end, awaiting the dialog and the box, so
// the script calls it through Asyncify and waits for the promise it returns.
EMSCRIPTEN_KEEPALIVE void kavoni_make_sprite() {
  static kavoni::KavoniPage page;
  kavoni::MakeSprite(page);
}

// The cell that an arrow key moves the focus to from cell `index`; `arrow` counts as
// layout::Arrow does: up, down, left, right.
EMSCRIPTEN_KEEPALIVE int kavoni_cell_neighbour(int index, int arrow) {
  if (index < 0 || index >= kavoni::kCellCount || arrow < 0 ||
      arrow > static_cast<int>(kavoni::layout::Arrow::kRight)) {
    return index;
  }
  return kavoni::layout::CellNeighbour(index, static_cast<kavoni::layout::Arrow>(arrow));
}

// Text that reaches the name box from elsewhere (pasted, dropped, set by a script), flattened
// to one line as the desktop windows do. UTF-8 in and out: the control characters are all
// ASCII, so flattening the bytes flattens the characters. The result lives until the next call.
EMSCRIPTEN_KEEPALIVE const char* kavoni_flatten_name(const char* text) {
  static std::string flat;
  flat = kavoni::name_text::Flatten(std::string_view(text));
  return flat.c_str();
}

}  // extern "C"

// Saving in a browser. A page can reach no file by its path: the page's own script knows where
// the user chose to save (a file that the system's save picker handed it, or a download under
// the name typed in the page's own dialog) and writes there. The core hands it the whole
// sprite once it is known, and waits, through Asyncify, until the page reports it written.
//
// The page supplies `Module.kavoniSave(name, bytes)`, which returns a promise: fulfilled once
// the bytes are in the file, rejected if they could not be put there. A page without it fails
// every save, so a broken page can never report a save that did not happen.
#include <emscripten.h>

#include <string>

#include "sprite/file.h"
#include "sprite/native_file.h"

namespace kavoni::native {

namespace {

// 0 once the page has written the bytes, -1 when it reports failure or cannot save at all. A
// rejection must not escape: Asyncify would never resume the save, and the press would hang.
EM_ASYNC_JS(int, kavoni_page_save, (const char* name, const char* bytes, int size), {
  try {
    await Module["kavoniSave"](UTF8ToString(name), HEAPU8.slice(bytes, bytes + size));
    return 0;
  } catch (error) {
    return -1;
  }
});

}  // namespace

struct Replacement::State {
  // The file's name as the save dialog gave it, with ".txt" appended: the download's name.
  std::string name;
};

Replacement::Replacement(const std::filesystem::path& path)
    : state_(std::make_unique<State>(State{path.string()})) {}

Replacement::~Replacement() = default;

void Replacement::Commit(std::string_view content) {
  if (kavoni_page_save(state_->name.c_str(), content.data(), static_cast<int>(content.size())) !=
      0) {
    throw SpriteFileError("the page could not save the file");
  }
}

}  // namespace kavoni::native

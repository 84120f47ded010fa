#include "window/web/kavoni_page.h"

#include <emscripten.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "sprite/rows.h"

namespace kavoni {

namespace {

// Each call asks the page's script, `Module.kavoniPage`, and catches whatever it throws: a
// JavaScript exception would pass through the command's trap untouched, and an async one that
// rejected would leave Asyncify waiting for ever. Failures come back as -1 or a null string.

EM_JS(int, kavoni_page_cell_ticked, (int index), {
  try {
    return Module["kavoniPage"].cellTicked(index) ? 1 : 0;
  } catch (error) {
    return -1;
  }
});

// 1 when the user chose a file, 0 when they dismissed the dialog, -1 when it failed.
EM_ASYNC_JS(int, kavoni_page_run_save_dialog, (), {
  try {
    return (await Module["kavoniPage"].runSaveDialog()) ? 1 : 0;
  } catch (error) {
    return -1;
  }
});

// Strings travel as UTF-8 in memory that the caller frees.
EM_JS(char*, kavoni_page_dialog_file_name, (), {
  try {
    return allocateUTF8(String(Module["kavoniPage"].dialogFileName()));
  } catch (error) {
    return 0;
  }
});

EM_JS(char*, kavoni_page_name_text, (), {
  try {
    return allocateUTF8(String(Module["kavoniPage"].nameText()));
  } catch (error) {
    return 0;
  }
});

EM_ASYNC_JS(int, kavoni_page_show_message_box, (const char* prompt, const char* title, int flags), {
  try {
    await Module["kavoniPage"].showMessageBox(UTF8ToString(prompt), UTF8ToString(title), flags);
    return 0;
  } catch (error) {
    return -1;
  }
});

std::string TakeText(char* text, const char* what) {
  const std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
  if (owned == nullptr) {
    throw std::runtime_error(std::string("the page could not give ") + what);
  }
  return owned.get();
}

}  // namespace

bool KavoniPage::CellTicked(int index) {
  if (index < 0 || index >= kCellCount) {
    throw std::out_of_range("no cell " + std::to_string(index));
  }
  const int ticked = kavoni_page_cell_ticked(index);
  if (ticked < 0) {
    throw std::runtime_error("the page could not read cell " + std::to_string(index));
  }
  return ticked == 1;
}

bool KavoniPage::RunSaveDialog() {
  const int chosen = kavoni_page_run_save_dialog();
  if (chosen < 0) {
    throw std::runtime_error("the save dialog failed");
  }
  return chosen == 1;
}

std::filesystem::path KavoniPage::DialogFileName() {
  return TakeText(kavoni_page_dialog_file_name(), "the dialog's file name");
}

std::string KavoniPage::NameText() {
  return TakeText(kavoni_page_name_text(), "the name");
}

void KavoniPage::ShowMessageBox(const MessageBoxRequest& box) {
  if (kavoni_page_show_message_box(box.prompt.c_str(), box.title.c_str(), MessageBoxFlags(box)) !=
      0) {
    throw std::runtime_error("the message box failed");
  }
}

}  // namespace kavoni

#include "sprite/command.h"

#include "sprite/file.h"
#include "sprite/rows.h"

#ifndef KAVONI_CONTACT_EMAIL
#error "KAVONI_CONTACT_EMAIL must be defined by the build"
#endif

namespace kavoni {

namespace {

SpriteGrid ReadGrid(SpriteUi& ui) {
  SpriteGrid grid{};
  for (int index = 0; index < kCellCount; ++index) {
    grid[index] = ui.CellTicked(index);
  }
  return grid;
}

}  // namespace

int MessageBoxFlags(const MessageBoxRequest& box) {
  const int icon = box.icon == MessageIcon::kWarning ? kMessageBoxIconWarning : 0;
  const int buttons = box.buttons == MessageButtons::kOk ? kMessageBoxButtonsOk : 0;
  return icon | buttons;
}

MessageBoxRequest FailureMessage() {
  // A bare line feed between the two lines, as the box has always shown it.
  return MessageBoxRequest{
      .prompt = std::string("Oops!\nThere was a bug. Sorry. Please e-mail it to me at ") +
                KAVONI_CONTACT_EMAIL + ".",
      .title = "Error",
      .icon = MessageIcon::kWarning,
      .buttons = MessageButtons::kOk,
  };
}

void MakeSprite(SpriteUi& ui) noexcept {
  try {
    // The grid is read before the dialog opens, so the file holds the sprite as it was at the
    // moment of the press.
    const SpriteRows rows = EncodeRows(ReadGrid(ui));

    if (!ui.RunSaveDialog()) {
      return;
    }
    // Appended even to a name that already ends in ".txt": users rely on typing a bare name.
    std::filesystem::path path = ui.DialogFileName();
    path += ".txt";

    SpriteTextFile file(path);
    const std::string name = ui.NameText();
    file.WriteLine(name);
    for (const std::string& row : rows) {
      file.WriteLine(row);
    }
    file.Close();
  } catch (...) {
    try {
      ui.ShowMessageBox(FailureMessage());
    } catch (...) {
      // The box itself failed; there is no other channel left, and the event loop that called
      // us must not see an exception.
    }
  }
}

}  // namespace kavoni

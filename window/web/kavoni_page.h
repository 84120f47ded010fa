#pragma once

#include <filesystem>
#include <string>

#include "sprite/command.h"

namespace kavoni {

// The designer window as a page: its controls are the page's own elements, made from the
// layout when the page was built (page_markup.h), and its script (page.js) runs the save
// dialog and the message box. This side supplies the Make Sprite command with what it reads
// and shows, by asking that script. Every question the page cannot answer throws, so that a
// broken page ends in the failure message like any other failure.
class KavoniPage final : public SpriteUi {
 public:
  bool CellTicked(int index) override;
  // Awaits the user's choice: the system's save picker where the browser has one, the page's
  // own save dialog elsewhere.
  bool RunSaveDialog() override;
  std::filesystem::path DialogFileName() override;
  std::string NameText() override;
  // Awaits the user's dismissal of the page's modal box.
  void ShowMessageBox(const MessageBoxRequest& box) override;
};

}  // namespace kavoni

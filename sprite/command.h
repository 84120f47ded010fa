#pragma once

#include <filesystem>
#include <string>

namespace kavoni {

enum class MessageIcon { kWarning };
enum class MessageButtons { kOk };

struct MessageBoxRequest {
  std::string prompt;
  std::string title;
  MessageIcon icon = MessageIcon::kWarning;
  MessageButtons buttons = MessageButtons::kOk;
};

// The classic message-box flag numbering, which the Windows window hands to MessageBoxW as it
// stands: the warning (exclamation-mark) icon is 48 and the OK-only button set 0.
inline constexpr int kMessageBoxIconWarning = 48;
inline constexpr int kMessageBoxButtonsOk = 0;

// The same box in that numbering.
int MessageBoxFlags(const MessageBoxRequest& box);

// What the Make Sprite command needs from the window. Text is 8-bit, in the system's encoding;
// paths are the file system's own.
// Any operation may throw; MakeSprite turns every exception into its one failure message.
class SpriteUi {
 public:
  virtual ~SpriteUi() = default;

  // Whether cell `index` (0 to 63, row by row from the top left) is ticked.
  virtual bool CellTicked(int index) = 0;

  // Shows the modal save dialog. Returns false when the user dismissed it without choosing a
  // file, so that nothing is written under a name the user did not pick this time.
  virtual bool RunSaveDialog() = 0;

  // The path the dialog holds: the user's latest choice. A path, not text in the code page,
  // so that any file name the file system takes can be saved to.
  virtual std::filesystem::path DialogFileName() = 0;

  // The name box's text, unchanged.
  virtual std::string NameText() = 0;

  // A modal message box; returns when the user dismisses it.
  virtual void ShowMessageBox(const MessageBoxRequest& box) = 0;
};

// The one message shown for every failure, whatever failed.
MessageBoxRequest FailureMessage();

// Runs one press of "Make Sprite": reads the grid, asks for a file name, and writes the sprite
// text file to that name with ".txt" appended. Success is silent. Any failure abandons the rest
// and shows FailureMessage(); no exception leaves this function.
void MakeSprite(SpriteUi& ui) noexcept;

}  // namespace kavoni

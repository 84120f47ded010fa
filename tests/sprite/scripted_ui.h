#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sprite/command.h"
#include "sprite/rows.h"

namespace kavoni::testing {

inline bool OutputOpened(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_empty(folder, error)) {
    return true;
  }
#ifdef __linux__
  const std::filesystem::path real_folder = std::filesystem::weakly_canonical(folder, error);
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code unreadable;
    const std::filesystem::path file = std::filesystem::read_symlink(fd.path(), unreadable);
    if (!unreadable && file.parent_path() == real_folder) {
      return true;
    }
  }
#endif
  return false;
}

enum class Step { kCell, kDialog, kFileName, kName, kMessageBox };

// A stand-in window: its answers are set by the test, it can be told to fail at any step, and
// it records what the command asked of it, in order.
class ScriptedSpriteUi : public SpriteUi {
 public:
  SpriteGrid cells{};
  std::filesystem::path file_name;
  std::string name;
  bool user_chooses = true;
  std::optional<Step> fail_at;
  int failing_cell = 0;
  // Runs when the name is read, which is after the output was opened and before it is closed.
  std::function<void()> on_name_read;

  std::vector<std::string> calls;
  std::vector<MessageBoxRequest> shown;
  // Whether the output was open when the name was read, which must be after opening: its
  // temporary file is in the folder, or, for a new file on Linux, which has no name until it
  // is whole, this process holds a descriptor of a file in that folder.
  std::optional<bool> output_opened_when_name_read;

  bool CellTicked(int index) override {
    calls.push_back("cell " + std::to_string(index));
    if (fail_at == Step::kCell && index == failing_cell) {
      throw std::runtime_error("cell unreadable");
    }
    return cells.at(static_cast<std::size_t>(index));
  }
  bool RunSaveDialog() override {
    calls.push_back("dialog");
    FailIf(Step::kDialog);
    return user_chooses;
  }
  std::filesystem::path DialogFileName() override {
    calls.push_back("file name");
    FailIf(Step::kFileName);
    return file_name;
  }
  std::string NameText() override {
    calls.push_back("name");
    output_opened_when_name_read = OutputOpened(file_name.parent_path());
    if (on_name_read) {
      on_name_read();
    }
    FailIf(Step::kName);
    return name;
  }
  void ShowMessageBox(const MessageBoxRequest& box) override {
    calls.push_back("message");
    shown.push_back(box);
    FailIf(Step::kMessageBox);
  }

  // Whether the one failure message, and nothing else, was shown.
  bool ShowedTheFailureOnce() const {
    return shown.size() == 1 && shown[0].title == "Error" &&
           shown[0].prompt == FailureMessage().prompt;
  }

 private:
  void FailIf(Step step) const {
    if (fail_at == step) {
      throw std::runtime_error("scripted failure");
    }
  }
};

}  // namespace kavoni::testing

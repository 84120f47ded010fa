#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sprite/command.h"
#include "sprite/rows.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

enum class Step { kCell, kDialog, kFileName, kName, kMessageBox };

// A stand-in window: its answers are set by the test, it can be told to fail at any step, and
// it records what the command asked of it, in order.
class ScriptedSpriteUi : public SpriteUi {
 public:
  SpriteGrid cells{};
  std::string file_name;
  std::string name;
  bool user_chooses = true;
  std::optional<Step> fail_at;
  int failing_cell = 0;

  std::vector<std::string> calls;
  std::vector<MessageBoxRequest> shown;
  // Whether the output file existed when the name was read; the name must come after opening.
  std::optional<bool> file_existed_when_name_read;

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
  std::string DialogFileName() override {
    calls.push_back("file name");
    FailIf(Step::kFileName);
    return file_name;
  }
  std::string NameText() override {
    calls.push_back("name");
    file_existed_when_name_read = std::filesystem::exists(file_name + ".txt");
    FailIf(Step::kName);
    return name;
  }
  void ShowMessageBox(const MessageBoxRequest& box) override {
    calls.push_back("message");
    shown.push_back(box);
    FailIf(Step::kMessageBox);
  }

 private:
  void FailIf(Step step) const {
    if (fail_at == step) {
      throw std::runtime_error("scripted failure");
    }
  }
};

std::string Row(const char* digits) {
  return "   .db %" + std::string(digits) + "\r\n";
}

std::string ClearRows() {
  std::string rows;
  for (int r = 0; r < 8; ++r) {
    rows += Row("00000000");
  }
  return rows;
}

class MakeSpriteTest : public ::testing::Test {
 protected:
  MakeSpriteTest() { ui_.file_name = dir_ / "sprite"; }

  std::string Output() const { return ReadBytes(ui_.file_name + ".txt"); }

  void ExpectFailureShownOnce() const {
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_EQ(ui_.shown[0].title, "Error");
    EXPECT_EQ(ui_.shown[0].prompt, FailureMessage().prompt);
  }

  TempDir dir_;
  ScriptedSpriteUi ui_;
};

TEST(FailureMessageText, FixedPromptTitleAndWarningFlags) {
  const MessageBoxRequest box = FailureMessage();
  EXPECT_EQ(box.prompt,
            "Oops!\nThere was a bug. Sorry. Please e-mail it to me at " KAVONI_CONTACT_EMAIL ".");
  EXPECT_EQ(box.prompt.find('\r'), std::string::npos) << "a bare line feed, no carriage return";
  EXPECT_EQ(box.title, "Error");
  EXPECT_EQ(MessageBoxFlags(box), 48);
}

TEST_F(MakeSpriteTest, ClearGridAndNameAWritesNameAndZeroRows) {
  ui_.name = "a";
  MakeSprite(ui_);
  EXPECT_TRUE(ui_.shown.empty()) << "success is silent";
  EXPECT_EQ(Output(), "a\r\n" + ClearRows());
}

TEST_F(MakeSpriteTest, WritesTheBallExample) {
  ui_.name = "ball";
  for (int cell : {27, 28, 35, 36}) {
    ui_.cells[cell] = true;
  }
  MakeSprite(ui_);
  const std::string zero = Row("00000000");
  const std::string mid = Row("00011000");
  EXPECT_EQ(Output(), "ball\r\n" + zero + zero + zero + mid + mid + zero + zero + zero);
  EXPECT_EQ(Output().size(), 150u);
}

TEST_F(MakeSpriteTest, EmptyNameStillWritesAFile) {
  MakeSprite(ui_);
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(Output(), "\r\n" + ClearRows());
}

TEST_F(MakeSpriteTest, StepsRunInOrderGridThenDialogThenFileThenName) {
  MakeSprite(ui_);
  ASSERT_EQ(ui_.calls.size(), 64u + 3u);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(ui_.calls[i], "cell " + std::to_string(i));
  }
  EXPECT_EQ(ui_.calls[64], "dialog");
  EXPECT_EQ(ui_.calls[65], "file name");
  EXPECT_EQ(ui_.calls[66], "name");
  EXPECT_EQ(ui_.file_existed_when_name_read, true) << "the name is read after the file is opened";
}

TEST_F(MakeSpriteTest, TxtIsAppendedEvenWhenAlreadyThere) {
  ui_.file_name = dir_ / "sprite.txt";
  MakeSprite(ui_);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "sprite.txt.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "sprite.txt"));
}

TEST_F(MakeSpriteTest, SecondPressReplacesTheFileWithTheNewGrid) {
  ui_.name = "first";
  ui_.cells[0] = true;
  MakeSprite(ui_);
  ui_.name = "second";
  ui_.cells[0] = false;
  ui_.cells[63] = true;
  MakeSprite(ui_);
  EXPECT_TRUE(ui_.shown.empty());
  const std::string bytes = Output();
  EXPECT_EQ(bytes.size(), 6u + 146u);
  EXPECT_EQ(bytes.substr(0, 8), "second\r\n");
  EXPECT_EQ(bytes.substr(8, 18), Row("00000000")) << "nothing of the first grid remains";
  EXPECT_EQ(bytes.substr(bytes.size() - 18), Row("00000001"));
}

TEST_F(MakeSpriteTest, DismissedDialogWritesNothingAndSaysNothing) {
  ui_.user_chooses = false;
  MakeSprite(ui_);
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  EXPECT_EQ(ui_.calls.back(), "dialog") << "no file name or name is read after a dismissal";
}

TEST_F(MakeSpriteTest, DismissedDialogLeavesTheLastSavedFileAlone) {
  WriteBytes(ui_.file_name + ".txt", "saved earlier");
  ui_.user_chooses = false;
  MakeSprite(ui_);
  EXPECT_EQ(Output(), "saved earlier");
}

TEST_F(MakeSpriteTest, NameWithLineBreakFailsInsteadOfCorruptingTheFile) {
  ui_.name = "two\nlines";
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_EQ(Output(), "") << "no line of a split name reaches the file";
}

// A failure at each step, before and after the file is opened.
TEST_F(MakeSpriteTest, FailureReadingAnyCellWritesNothing) {
  for (int cell : {0, 31, 63}) {
    ScriptedSpriteUi ui;
    ui.file_name = ui_.file_name;
    ui.fail_at = Step::kCell;
    ui.failing_cell = cell;
    MakeSprite(ui);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].title, "Error");
    EXPECT_EQ(ui.calls[ui.calls.size() - 2], "cell " + std::to_string(cell));
    EXPECT_EQ(ui.calls.back(), "message") << "the dialog never opens";
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(MakeSpriteTest, FailingDialogWritesNothing) {
  ui_.fail_at = Step::kDialog;
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(MakeSpriteTest, FailingFileNameWritesNothing) {
  ui_.fail_at = Step::kFileName;
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(MakeSpriteTest, FailingNameLeavesTheOpenedFileEmpty) {
  WriteBytes(ui_.file_name + ".txt", "old content");
  ui_.fail_at = Step::kName;
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_EQ(Output(), "") << "opening emptied it; nothing further was written";
}

TEST_F(MakeSpriteTest, UnwritablePathShowsTheBoxAndCreatesNothing) {
  ui_.file_name = dir_ / "missing-folder/sprite";
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(MakeSpriteTest, FullDiskIsReportedNotSilentlyLost) {
  std::filesystem::create_symlink("/dev/full", ui_.file_name + ".txt");
  MakeSprite(ui_);
  ExpectFailureShownOnce();
}

TEST_F(MakeSpriteTest, FailingMessageBoxDoesNotEscape) {
  ui_.file_name = dir_ / "missing-folder/sprite";
  ui_.fail_at = Step::kMessageBox;
  EXPECT_NO_THROW(MakeSprite(ui_));
  EXPECT_EQ(ui_.shown.size(), 1u);
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

TEST_F(MakeSpriteTest, ThousandFailingRunsLeakNoFileDescriptors) {
  if (!std::filesystem::exists("/proc/self/fd")) {
    GTEST_SKIP() << "no /proc/self/fd to count descriptors";
  }
  std::filesystem::create_symlink("/dev/full", dir_ / "full.txt");
  ScriptedSpriteUi after_open;  // fails once the file is open
  after_open.file_name = dir_ / "sprite";
  after_open.fail_at = Step::kName;
  ScriptedSpriteUi at_flush;  // fails only when the bytes reach the device
  at_flush.file_name = dir_ / "full";
  ScriptedSpriteUi at_open;
  at_open.file_name = dir_ / "missing-folder/sprite";

  const int before = OpenDescriptorCount();
  for (int run = 0; run < 1000; ++run) {
    ScriptedSpriteUi& ui = run % 3 == 0 ? after_open : run % 3 == 1 ? at_flush : at_open;
    MakeSprite(ui);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(after_open.shown.size() + at_flush.shown.size() + at_open.shown.size(), 1000u);
}

}  // namespace
}  // namespace kavoni

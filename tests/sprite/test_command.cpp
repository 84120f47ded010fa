#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sprite/command.h"
#include "sprite/rows.h"
#include "sprite/scripted_ui.h"
#include "support/folder_state.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

using testing::FolderState;
using testing::ReadBytes;
using testing::ScriptedSpriteUi;
using testing::Step;
using testing::TempDir;
using testing::WriteBytes;

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

  std::filesystem::path OutputPath() const {
    std::filesystem::path path = ui_.file_name;
    return path += ".txt";
  }
  std::string Output() const { return ReadBytes(OutputPath()); }

  void ExpectFailureShownOnce() const { EXPECT_TRUE(ui_.ShowedTheFailureOnce()); }

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
  EXPECT_EQ(ui_.output_opened_when_name_read, true) << "the name is read after the file is opened";
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
  WriteBytes(OutputPath(), "saved earlier");
  ui_.user_chooses = false;
  MakeSprite(ui_);
  EXPECT_EQ(Output(), "saved earlier");
}

TEST_F(MakeSpriteTest, NameWithLineBreakFailsAndLeavesTheOldFile) {
  WriteBytes(OutputPath(), "saved earlier");
  ui_.name = "two\nlines";
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_EQ(Output(), "saved earlier") << "no line of a split name reaches the file";
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

TEST_F(MakeSpriteTest, FailingNameLeavesTheOldFileAsItWas) {
  WriteBytes(OutputPath(), "old content");
  ui_.fail_at = Step::kName;
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_EQ(Output(), "old content");
  EXPECT_EQ(FolderState::Of(dir_.path()).Names(), std::vector<std::string>{"sprite.txt"})
      << "the prepared replacement is gone";
}

TEST_F(MakeSpriteTest, UnwritablePathShowsTheBoxAndCreatesNothing) {
  ui_.file_name = dir_ / "missing-folder/sprite";
  MakeSprite(ui_);
  ExpectFailureShownOnce();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(MakeSpriteTest, FailingMessageBoxDoesNotEscape) {
  ui_.file_name = dir_ / "missing-folder/sprite";
  ui_.fail_at = Step::kMessageBox;
  EXPECT_NO_THROW(MakeSprite(ui_));
  EXPECT_EQ(ui_.shown.size(), 1u);
}

// The files and other handles the process holds open, or nullopt where the system cannot
// count them. Wine answers GetProcessHandleCount with a number that never moves, so the count
// is trusted only once it has been seen to follow a handle opened for the purpose.
std::optional<int> OpenHandleCount() {
#ifdef _WIN32
  const auto count = [] {
    DWORD handles = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
  };
  const int before = count();
  HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const int with_probe = count();
  CloseHandle(probe);
  if (before < 0 || with_probe != before + 1) {
    return std::nullopt;
  }
  return before;
#else
  std::error_code error;
  std::filesystem::directory_iterator fds("/proc/self/fd", error);
  if (error) {
    return std::nullopt;
  }
  return static_cast<int>(std::distance(fds, {}));
#endif
}

// Each way a save can fail: once the output is open, at a line the file refuses, and at the
// open itself.
std::vector<ScriptedSpriteUi> EveryKindOfFailure(const std::filesystem::path& stem,
                                                 const std::filesystem::path& missing) {
  std::vector<ScriptedSpriteUi> failures(3);
  failures[0].file_name = stem;
  failures[0].fail_at = Step::kName;
  failures[1].file_name = stem;
  failures[1].name = "two\nlines";
  failures[2].file_name = missing;
  return failures;
}

void FailAThousandTimes(std::vector<ScriptedSpriteUi>& failures) {
  for (int run = 0; run < 1000; ++run) {
    MakeSprite(failures[static_cast<std::size_t>(run) % failures.size()]);
  }
}

// A thousand failed saves: no temporary file may pile up, and the sprite saved before must
// come through untouched.
TEST_F(MakeSpriteTest, ThousandFailedSavesLeaveNoFile) {
  WriteBytes(OutputPath(), "kept");
  std::vector<ScriptedSpriteUi> failures =
      EveryKindOfFailure(ui_.file_name, dir_ / "missing-folder/sprite");
  const FolderState before = FolderState::Of(dir_.path());
  FailAThousandTimes(failures);
  EXPECT_EQ(FolderState::Of(dir_.path()), before);
  std::size_t shown = 0;
  for (const ScriptedSpriteUi& ui : failures) {
    EXPECT_TRUE(std::all_of(ui.shown.begin(), ui.shown.end(), [](const MessageBoxRequest& box) {
      return box.prompt == FailureMessage().prompt;
    }));
    shown += ui.shown.size();
  }
  EXPECT_EQ(shown, 1000u);
}

TEST_F(MakeSpriteTest, ThousandFailedSavesLeaveNoOpenHandle) {
  const std::optional<int> before = OpenHandleCount();
  if (!before) {
    GTEST_SKIP() << "this system does not tell how many handles the process holds";
  }
  std::vector<ScriptedSpriteUi> failures =
      EveryKindOfFailure(ui_.file_name, dir_ / "missing-folder/sprite");
  FailAThousandTimes(failures);
  EXPECT_EQ(OpenHandleCount(), before);
}

}  // namespace
}  // namespace kavoni

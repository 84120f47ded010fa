#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "sprite/file.h"
#include "sprite/temporary_name.h"
#include "support/folder_state.h"
#include "support/sprite_file.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

using testing::FolderState;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteSprite;

TEST(SpriteTextFileBytes, NameLineThenRowsEachEndingInCrLf) {
  TempDir dir;
  const auto path = dir / "ball.txt";
  SpriteTextFile file(path);
  file.WriteLine("ball");
  file.WriteLine("   .db %00011000");
  file.Close();
  EXPECT_EQ(ReadBytes(path), "ball\r\n   .db %00011000\r\n");
}

TEST(SpriteTextFileBytes, LengthIsNameLengthPlus146) {
  TempDir dir;
  for (const std::string name : {"", "ball", "a much longer sprite name"}) {
    const auto path = dir / "sprite.txt";
    WriteSprite(path, name);
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size(), name.size() + 146) << "name '" << name << "'";
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
  }
}

TEST(SpriteTextFileBytes, EmptyNameGivesEmptyFirstLine) {
  TempDir dir;
  const auto path = dir / "empty.txt";
  WriteSprite(path, "");
  const std::string bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\r\n");
}

TEST(SpriteTextFileBytes, EveryLineEndIsCrLfAndNoBareLfOrCr) {
  TempDir dir;
  const auto path = dir / "sprite.txt";
  WriteSprite(path, "  spaced name  ");
  const std::string bytes = ReadBytes(path);
  int line_ends = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(bytes[i - 1], '\r') << "LF without CR at byte " << i;
      ++line_ends;
    } else if (bytes[i] == '\r') {
      ASSERT_LT(i + 1, bytes.size());
      EXPECT_EQ(bytes[i + 1], '\n') << "CR without LF at byte " << i;
    }
  }
  EXPECT_EQ(line_ends, 9);
  EXPECT_EQ(bytes.substr(0, 17), "  spaced name  \r\n") << "the name is written untrimmed";
}

TEST(SpriteTextFileBytes, HighBytesAreWrittenUnchanged) {
  TempDir dir;
  const auto path = dir / "sprite.txt";
  const std::string name = "caf\xc3\xa9\xff";
  WriteSprite(path, name);
  EXPECT_EQ(ReadBytes(path).substr(0, name.size() + 2), name + "\r\n");
}

TEST(SpriteTextFileBytes, FileNameWithAnyCharacterIsCreatedAsChosen) {
  TempDir dir;
  const std::filesystem::path name(u8"b\u00e4llchen \u2192 \U0001F600.txt");
  WriteSprite(dir / name, "ball");
  EXPECT_EQ(FolderState::Of(dir.path()).Names(),
            std::vector<std::string>{"b\xc3\xa4llchen \xe2\x86\x92 \xf0\x9f\x98\x80.txt"});
}

TEST(SpriteTextFileReplace, LongerExistingFileIsReplacedWholeAndNothingIsLeftBeside) {
  TempDir dir;
  const auto path = dir / "old.txt";
  WriteBytes(path, std::string(10000, 'x'));
  WriteSprite(path, "ab");
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), 148u);
  EXPECT_EQ(bytes.find('x'), std::string::npos);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"old.txt"});
}

// Every save's temporary name fits the folder that it is made in, whatever that folder's
// limit: 255 on most file systems, 143 in an eCryptfs home folder, 30 and 14 on Minix and old
// System V ones (14 is the least that POSIX allows), and 49, just short of the usual form.
TEST(SpriteTextFileReplace, TemporaryNameFitsTheFoldersLimitAndIsTheSavesOwn) {
  for (const std::size_t limit : {std::size_t{14}, std::size_t{30}, std::size_t{49},
                                  std::size_t{50}, std::size_t{143}, std::size_t{255}}) {
    for (const std::size_t length : {limit, limit - 10, std::size_t{8}}) {
      SCOPED_TRACE(std::to_string(length) + " of " + std::to_string(limit));
      const std::filesystem::path target(std::string(length - 4, 'n') + ".txt");
      const std::filesystem::path name = TemporaryNameFor(target, limit);
      EXPECT_LE(name.native().size(), limit);
      EXPECT_TRUE(IsTemporaryName(name)) << name;
      EXPECT_NE(name, TemporaryNameFor(target, limit));
    }
  }
}

// A save clears what killed saves left behind, but never a file that another save may be
// writing at this moment.
TEST(SpriteTextFileReplace, OnlyAbandonedLeftoversAreCleared) {
  using std::chrono::minutes;
  const struct {
    const char* what;
    const char* name;
    minutes age;
    bool cleared;
  } cases[] = {
      {"this file's, long abandoned", ".ball.txt.0123456789abcdef.kavoni-save.tmp", minutes(60),
       true},
      {"another file's, long abandoned", ".other.txt.0123456789abcdef.kavoni-save.tmp", minutes(60),
       true},
      {"an older version's fixed name", ".ball.txt.kavoni-save.tmp", minutes(60), true},
      {"an older version's stand-in for a long name", ".kavoni-save-0123456789abcdef.tmp",
       minutes(60), true},
      {"one for a folder of short names", ".kavoni-0123456789abcdef", minutes(60), true},
      {"the shortest one for a folder of short names", ".kavoni-012345", minutes(60), true},
      {"another save's, being written now", ".ball.txt.fedcba9876543210.kavoni-save.tmp",
       minutes(0), false},
      {"not one of ours", ".ball.txt.swp", minutes(60), false},
      {"a user's file that only ends like ours", ".notes.kavoni-save.tmp", minutes(60), false},
      {"nothing before the ending", "..kavoni-save.tmp", minutes(60), false},
      {"digits that are not ours", ".ball.txt.0123456789ABCDEF.kavoni-save.tmp", minutes(60),
       false},
      {"too few digits", ".ball.txt.0123456789abcde.kavoni-save.tmp", minutes(60), false},
      {"no name before the digits", "..0123456789abcdef.kavoni-save.tmp", minutes(60), false},
      {"a short name with too few digits", ".kavoni-01234", minutes(60), false},
      {"a short name with more than digits", ".kavoni-012345.txt", minutes(60), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteBytes(dir / c.name, "left by a save that could not clean up");
    std::filesystem::last_write_time(dir / c.name,
                                     std::filesystem::file_time_type::clock::now() - c.age);
    WriteSprite(dir / "ball.txt", "ball");
    EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.cleared);
    EXPECT_TRUE(std::filesystem::exists(dir / "ball.txt"));
  }
}

// Two windows save the same file at nearly the same time. Each save is opened, given its
// lines and closed, and the two are interleaved at every step: both must succeed, the file
// must be whole and be the sprite of the save that closed last, and no temporary file stays.
TEST(SpriteTextFileReplace, TwoSavesOfOneFileInterleavedEachStandOnTheirOwn) {
  const struct {
    const char* steps;  // o, w and c: open, write and close, by A (upper case) or B (lower)
    char survivor;
  } cases[] = {
      {"OWCowc", 'B'}, {"OowWcC", 'A'}, {"OoWCwc", 'B'}, {"OowcWC", 'A'},
      {"OWowcC", 'A'}, {"oOWwCc", 'B'}, {"OoWwCc", 'B'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    TempDir dir;
    const auto path = dir / "ball.txt";
    WriteBytes(path, "saved earlier");
    std::unique_ptr<SpriteTextFile> saves[2];
    for (const char* step = c.steps; *step != '\0'; ++step) {
      const bool is_a = *step >= 'A' && *step <= 'Z';
      std::unique_ptr<SpriteTextFile>& save = saves[is_a ? 0 : 1];
      const std::string name = is_a ? "A" : "B";
      switch (*step | 0x20) {
        case 'o':
          save = std::make_unique<SpriteTextFile>(path);
          break;
        case 'w':
          save->WriteLine(name);
          for (int row = 0; row < 8; ++row) {
            save->WriteLine("   .db %00000000");
          }
          break;
        case 'c':
          EXPECT_NO_THROW(save->Close()) << "save " << name;
          break;
      }
    }
    EXPECT_EQ(ReadBytes(path), testing::ClearSprite(std::string(1, c.survivor)));
    EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"ball.txt"});
  }
}

TEST(SpriteTextFileReplace, NothingChangesUntilClose) {
  TempDir dir;
  const auto path = dir / "ball.txt";
  WriteBytes(path, "saved earlier");
  SpriteTextFile file(path);
  file.WriteLine("ball");
  EXPECT_EQ(ReadBytes(path), "saved earlier");
  file.Close();
  EXPECT_EQ(ReadBytes(path), "ball\r\n");
}

// However a save is abandoned before Close(), the file saved earlier comes through whole and
// the folder holds nothing new.
TEST(SpriteTextFileAbandoned, LeavesTheOldFileAndNoTemporary) {
  const struct {
    const char* what;
    std::function<void(SpriteTextFile&)> abandon;
  } cases[] = {
      {"a refused line",
       [](SpriteTextFile& file) {
         file.WriteLine("kept");
         EXPECT_THROW(file.WriteLine("broken\n"), SpriteFileError);
       }},
      {"a refused lone CR",
       [](SpriteTextFile& file) { EXPECT_THROW(file.WriteLine("a\rb"), SpriteFileError); }},
      {"dropped after some lines", [](SpriteTextFile& file) { file.WriteLine("kept"); }},
      {"dropped at once", [](SpriteTextFile&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto path = dir / "sprite.txt";
    WriteBytes(path, "saved earlier");
    const FolderState before = FolderState::Of(dir.path());
    {
      SpriteTextFile file(path);
      c.abandon(file);
    }
    EXPECT_EQ(FolderState::Of(dir.path()), before);
  }
}

TEST(SpriteTextFileLifecycle, WriteOrCloseAfterCloseFails) {
  TempDir dir;
  SpriteTextFile file(dir / "closed.txt");
  file.Close();
  EXPECT_THROW(file.WriteLine("late"), SpriteFileError);
  EXPECT_THROW(file.Close(), SpriteFileError);
}

// Paths that no user can write, root included; each save must fail and create nothing.
TEST(SpriteTextFileOpenFailure, RefusedAndNothingIsCreated) {
  const struct {
    const char* what;
    std::function<std::filesystem::path(const TempDir&)> make;
  } cases[] = {
      {"a missing folder", [](const TempDir& dir) { return dir / "no-such-folder/sprite.txt"; }},
      {"a folder at the path",
       [](const TempDir& dir) {
         std::filesystem::create_directory(dir / "folder.txt");
         return dir / "folder.txt";
       }},
      {"a file as the folder",
       [](const TempDir& dir) {
         WriteBytes(dir / "plain", "content");
         return dir / "plain/sprite.txt";
       }},
      {"a name longer than any file system takes",
       [](const TempDir& dir) { return dir / std::string(300, 'n'); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::filesystem::path path = c.make(dir);
    const FolderState before = FolderState::Of(dir.path());
    EXPECT_THROW(WriteSprite(path, "ball"), SpriteFileError);
    EXPECT_EQ(FolderState::Of(dir.path()), before);
  }
}

}  // namespace
}  // namespace kavoni

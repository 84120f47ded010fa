#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sprite/file.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

void WriteSprite(const std::string& path, const std::string& name) {
  SpriteTextFile file(path);
  file.WriteLine(name);
  for (int row = 0; row < 8; ++row) {
    file.WriteLine("   .db %00000000");
  }
  file.Close();
}

TEST(SpriteTextFileBytes, NameLineThenRowsEachEndingInCrLf) {
  TempDir dir;
  const std::string path = dir / "ball.txt";
  SpriteTextFile file(path);
  file.WriteLine("ball");
  file.WriteLine("   .db %00011000");
  file.Close();
  EXPECT_EQ(ReadBytes(path), "ball\r\n   .db %00011000\r\n");
}

TEST(SpriteTextFileBytes, LengthIsNameLengthPlus146) {
  TempDir dir;
  for (const std::string name : {"", "ball", "a much longer sprite name"}) {
    const std::string path = dir / "sprite.txt";
    WriteSprite(path, name);
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.size(), name.size() + 146) << "name '" << name << "'";
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
  }
}

TEST(SpriteTextFileBytes, EmptyNameGivesEmptyFirstLine) {
  TempDir dir;
  const std::string path = dir / "empty.txt";
  WriteSprite(path, "");
  const std::string bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\r\n");
}

TEST(SpriteTextFileBytes, EveryLineEndIsCrLfAndNoBareLfOrCr) {
  TempDir dir;
  const std::string path = dir / "sprite.txt";
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
  const std::string path = dir / "sprite.txt";
  const std::string name = "caf\xc3\xa9\xff";
  WriteSprite(path, name);
  EXPECT_EQ(ReadBytes(path).substr(0, name.size() + 2), name + "\r\n");
}

TEST(SpriteTextFileBytes, LongerExistingFileIsReplacedWhole) {
  TempDir dir;
  const std::string path = dir / "old.txt";
  WriteBytes(path, std::string(10000, 'x'));
  WriteSprite(path, "ab");
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), 148u);
  EXPECT_EQ(bytes.find('x'), std::string::npos);
}

TEST(SpriteTextFileLineBreaks, NameWithLineBreakIsRefusedAndNothingIsWritten) {
  TempDir dir;
  for (const std::string name : {"a\nb", "a\rb", "a\r\nb", "\n"}) {
    const std::string path = dir / "sprite.txt";
    SpriteTextFile file(path);
    EXPECT_THROW(file.WriteLine(name), SpriteFileError);
    file.Close();
    EXPECT_EQ(ReadBytes(path), "");
  }
}

TEST(SpriteTextFileLifecycle, LinesWrittenBeforeAFailureStayInTheFile) {
  TempDir dir;
  const std::string path = dir / "partial.txt";
  {
    SpriteTextFile file(path);
    file.WriteLine("kept");
    EXPECT_THROW(file.WriteLine("broken\n"), SpriteFileError);
    // Going out of scope without Close(): the destructor must still release the lines.
  }
  EXPECT_EQ(ReadBytes(path), "kept\r\n");
}

TEST(SpriteTextFileLifecycle, WriteOrCloseAfterCloseFails) {
  TempDir dir;
  SpriteTextFile file(dir / "closed.txt");
  file.Close();
  EXPECT_THROW(file.WriteLine("late"), SpriteFileError);
  EXPECT_THROW(file.Close(), SpriteFileError);
}

// These failures must hold even for root, which ignores permission bits, so each one uses a
// path that no user can write.
class SpriteTextFileOpenFailure : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(SpriteTextFileOpenFailure, MissingFolder) {
  EXPECT_THROW(SpriteTextFile(dir_ / "no-such-folder/sprite.txt"), SpriteFileError);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no-such-folder"));
}

TEST_F(SpriteTextFileOpenFailure, PathIsAnExistingFolder) {
  std::filesystem::create_directory(dir_.path() / "folder.txt");
  EXPECT_THROW(SpriteTextFile(dir_ / "folder.txt"), SpriteFileError);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "folder.txt"));
}

TEST_F(SpriteTextFileOpenFailure, ParentIsARegularFile) {
  WriteBytes(dir_.path() / "plain", "content");
  EXPECT_THROW(SpriteTextFile(dir_ / "plain/sprite.txt"), SpriteFileError);
  EXPECT_EQ(ReadBytes(dir_.path() / "plain"), "content");
}

TEST_F(SpriteTextFileOpenFailure, FileNameLongerThanTheFileSystemAllows) {
  const long name_max = pathconf(dir_.path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 0);
  const std::string name(static_cast<std::size_t>(name_max) + 1, 'n');
  EXPECT_THROW(SpriteTextFile(dir_ / name), SpriteFileError);
}

TEST(SpriteTextFileFlushFailure, FullDiskShowsAtCloseNotAsSuccess) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full on this system";
  }
  TempDir dir;
  const std::string path = dir / "full.txt";
  std::filesystem::create_symlink("/dev/full", path);
  SpriteTextFile file(path);
  // The line fits in the stream's buffer, so the disk's refusal can only show at the flush.
  EXPECT_NO_THROW(file.WriteLine("sprite"));
  EXPECT_THROW(file.Close(), SpriteFileError);
}

}  // namespace
}  // namespace kavoni

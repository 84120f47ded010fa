// Saving on Windows: what a replaced file keeps, a write that fails on a full disk, and the
// refusals that take the place of POSIX's permission bits and special files.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "sprite/file.h"
#include "support/folder_state.h"
#include "support/sprite_file.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

using testing::ClearSprite;
using testing::FolderState;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteSprite;

DWORD Attributes(const std::filesystem::path& path) {
  return GetFileAttributesW(path.c_str());
}

// A hidden file stays hidden: its attributes go to the file that takes its place.
TEST(WindowsReplace, KeepsTheReplacedFilesAttributes) {
  TempDir dir;
  const auto path = dir / "ball.txt";
  WriteBytes(path, "saved earlier");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  WriteSprite(path);
  EXPECT_EQ(ReadBytes(path), ClearSprite());
  EXPECT_NE(Attributes(path) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"ball.txt"});
}

TEST(WindowsReplace, ReadOnlyFileIsRefusedAndLeftAlone) {
  TempDir dir;
  const auto path = dir / "ball.txt";
  WriteBytes(path, "saved earlier");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const FolderState before = FolderState::Of(dir.path());
  EXPECT_THROW(SpriteTextFile{path}, SpriteFileError);
  EXPECT_EQ(FolderState::Of(dir.path()), before);
  EXPECT_NE(Attributes(path) & FILE_ATTRIBUTE_READONLY, 0u);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The disk fills up while the new sprite is written: the write fails, and the sprite saved
// before and the folder are as they were.
TEST(WindowsReplace, FailedWriteKeepsTheOldFile) {
  const char* small_disk = std::getenv("KAVONI_SMALL_DISK");
  if (small_disk == nullptr) {
    GTEST_SKIP() << "no small disk to fill (KAVONI_SMALL_DISK); the run was not root";
  }
  const std::filesystem::path disk(small_disk);
  WriteBytes(disk / "keep.txt", "saved earlier");
  {
    HANDLE filler = CreateFileW((disk / "filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(filler, INVALID_HANDLE_VALUE);
    const std::string block(4096, 'f');
    DWORD written = 0;
    while (WriteFile(filler, block.data(), 4096, &written, nullptr) && written == 4096) {
    }
    while (WriteFile(filler, "f", 1, &written, nullptr) && written == 1) {
    }
    CloseHandle(filler);
  }
  const FolderState before = FolderState::Of(disk);
  EXPECT_THROW(WriteSprite(disk / "keep.txt"), SpriteFileError);
  EXPECT_EQ(FolderState::Of(disk), before);
}

TEST(WindowsReplace, DeviceIsRefused) {
  EXPECT_THROW(SpriteTextFile{std::filesystem::path(L"\\\\.\\NUL")}, SpriteFileError);
}

}  // namespace
}  // namespace kavoni

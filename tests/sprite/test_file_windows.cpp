// Saving on Windows: what a replaced file keeps, a write that fails on a full disk, and the
// refusals that take the place of POSIX's permission bits and special files.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

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

// The access list in the security descriptor language, "D:P(A;;FA;;;BA)...", or empty.
std::wstring AccessListOf(const std::filesystem::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring text;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
    wchar_t* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      text = sddl;
      LocalFree(sddl);
    }
    LocalFree(descriptor);
  }
  return text;
}

// A file whose own access list lets only administrators write it must not come back from a
// save with the folder's list, which may let anyone in.
TEST(WindowsReplace, KeepsTheReplacedFilesOwnAccessList) {
  TempDir dir;
  const auto path = dir / "ball.txt";
  WriteBytes(path, "saved earlier");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
  const DWORD set =
      SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, list, nullptr);
  LocalFree(descriptor);
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
  const std::wstring before = AccessListOf(path);
  if (before.rfind(L"D:P", 0) != 0) {
    // Wine 8 answers with a list made from the Unix mode bits and keeps none of its own.
    GTEST_SKIP() << "this file system keeps no access list of a file's own; the case did not run";
  }

  WriteSprite(path);
  EXPECT_EQ(ReadBytes(path), ClearSprite());
  EXPECT_EQ(AccessListOf(path), before);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"ball.txt"});
}

// Makes `link` a symbolic link to `target`: through Windows where it may, and otherwise, under
// Wine, whose CreateSymbolicLinkW makes nothing, as the Unix link that Wine shows Windows
// programs in its place.
bool MakeLink(const std::filesystem::path& link, const wchar_t* target) {
  if (CreateSymbolicLinkW(link.c_str(), target, SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) {
    return false;
  }
  const std::string unix_link = to_unix(link.c_str());
  std::wstring command =
      L"/bin/ln -s " + std::wstring(target) + L" " + std::filesystem::path(unix_link).wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine's handle of a Unix process does not wait for it, so the link is watched for instead.
  for (int tries = 0; tries < 100; ++tries) {
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return true;
    }
    Sleep(50);
  }
  return false;
}

// A save through a symbolic link replaces the file that it leads to and keeps the link.
TEST(WindowsReplace, LinkStaysALinkAndItsTargetIsReplaced) {
  TempDir dir;
  WriteBytes(dir / "real.txt", "saved earlier");
  if (!MakeLink(dir / "ball.txt", L"real.txt")) {
    GTEST_SKIP() << "cannot make a symbolic link here";
  }
  WriteSprite(dir / "ball.txt");
  EXPECT_EQ(ReadBytes(dir / "real.txt"), ClearSprite()) << "the link was replaced";
  EXPECT_EQ(ReadBytes(dir / "ball.txt"), ClearSprite());
  EXPECT_EQ(FolderState::Of(dir.path()).Names(),
            (std::vector<std::string>{"ball.txt", "real.txt"}));
  // MinGW's remove_all never finishes on a folder that holds Wine's view of a Unix link.
  EXPECT_TRUE(DeleteFileW((dir / "ball.txt").c_str()));
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

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

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sprite/file.h"
#include "sprite/native_file_windows_calls.h"
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

// Wine's own name for a Windows path, or empty where this is not Wine.
std::string UnixPathOf(const std::filesystem::path& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  const char* name = to_unix != nullptr ? to_unix(path.c_str()) : nullptr;
  return name != nullptr ? name : "";
}

// Runs a Unix program under Wine, and waits until `done` holds (Wine's handle of a Unix
// process does not wait for it).
bool RunUnix(const wchar_t* program, std::wstring command, const std::function<bool()>& done) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int tries = 0; tries < 100; ++tries) {
    if (done()) {
      return true;
    }
    Sleep(50);
  }
  return false;
}

// Makes `link` a symbolic link to `target`: through Windows where it may, and otherwise, under
// Wine, whose CreateSymbolicLinkW makes nothing, as the Unix link that Wine shows Windows
// programs in its place.
bool MakeLink(const std::filesystem::path& link, const wchar_t* target) {
  if (CreateSymbolicLinkW(link.c_str(), target, SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  const std::string unix_link = UnixPathOf(link);
  return !unix_link.empty() &&
         RunUnix(L"Z:\\bin\\ln",
                 L"/bin/ln -s " + std::wstring(target) + L" " +
                     std::filesystem::path(unix_link).wstring(),
                 [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
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

// Windows refuses renames while other programs hold the files: a sync client, the indexer or
// a virus scanner. The renames are scripted here to answer as Windows does, and each answer
// must take the save its own way.
class ScriptedRenames {
 public:
  // Each call answers with the next code of its script, and the last one for ever after;
  // ERROR_SUCCESS renames for real.
  ScriptedRenames(bool posix_semantics, std::vector<DWORD> by_handle, std::vector<DWORD> by_name)
      : by_handle_(std::move(by_handle)), by_name_(std::move(by_name)), saved_(native::Calls()) {
    current_ = this;
    native::Calls().rename_by_handle = ByHandle;
    native::Calls().rename_by_name = ByName;
    native::Calls().has_posix_semantics =
        posix_semantics ? +[](HANDLE) { return true; } : +[](HANDLE) { return false; };
  }
  ~ScriptedRenames() {
    native::Calls() = saved_;
    current_ = nullptr;
  }
  ScriptedRenames(const ScriptedRenames&) = delete;
  ScriptedRenames& operator=(const ScriptedRenames&) = delete;

  int by_handle_calls = 0;
  int by_name_calls = 0;

 private:
  static DWORD Next(const std::vector<DWORD>& script, int& calls) {
    const std::size_t at =
        std::min<std::size_t>(static_cast<std::size_t>(calls++), script.size() - 1);
    return script[at];
  }
  static DWORD ByHandle(HANDLE file, const wchar_t* to) {
    const DWORD answer = Next(current_->by_handle_, current_->by_handle_calls);
    if (answer != ERROR_SUCCESS) {
      return answer;
    }
    // Wine has no rename with POSIX semantics, and refuses one over an open file as Windows
    // does without them; the Unix rename below it does what Windows' would.
    wchar_t from[MAX_PATH];
    const DWORD length = GetFinalPathNameByHandleW(file, from, MAX_PATH, FILE_NAME_NORMALIZED);
    const std::string unix_from = length > 0 && length < MAX_PATH ? UnixPathOf(from) : "";
    const std::string unix_to = UnixPathOf(to);
    if (unix_from.empty() || unix_to.empty()) {
      return ERROR_NOT_SUPPORTED;
    }
    const std::filesystem::path gone(from);
    return RunUnix(L"Z:\\bin\\mv",
                   L"/bin/mv -f " + std::filesystem::path(unix_from).wstring() + L" " +
                       std::filesystem::path(unix_to).wstring(),
                   [&] { return GetFileAttributesW(gone.c_str()) == INVALID_FILE_ATTRIBUTES; })
               ? ERROR_SUCCESS
               : ERROR_GEN_FAILURE;
  }
  static DWORD ByName(const wchar_t* from, const wchar_t* to) {
    const DWORD answer = Next(current_->by_name_, current_->by_name_calls);
    return answer != ERROR_SUCCESS ? answer : current_->saved_.rename_by_name(from, to);
  }

  static inline ScriptedRenames* current_ = nullptr;
  std::vector<DWORD> by_handle_;
  std::vector<DWORD> by_name_;
  native::WindowsCalls saved_;
};

std::uint64_t FileIdOf(const std::filesystem::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool read = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
  EXPECT_TRUE(read) << path;
  return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

TEST(WindowsReplace, EachAnswerOfTheRenameTakesTheSaveItsWay) {
  enum class Ends { kReplaced, kWrittenInPlace, kFailedChangingNothing };
  const struct {
    const char* what;
    bool posix_semantics;
    std::vector<DWORD> by_handle;
    std::vector<DWORD> by_name;
    bool file_exists;
    Ends ends;
    int by_handle_calls;
    int by_name_calls;
  } cases[] = {
      {"renamed by handle at once", true, {ERROR_SUCCESS}, {}, true, Ends::kReplaced, 1, 0},
      {"a scan holds the new file for a moment",
       true,
       {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, ERROR_SUCCESS},
       {},
       true,
       Ends::kReplaced,
       3,
       0},
      {"another program holds the file and does not let it go",
       true,
       {ERROR_ACCESS_DENIED},
       {},
       true,
       Ends::kWrittenInPlace,
       6,
       0},
      {"a volume that says it has POSIX semantics, and a Windows that has not",
       true,
       {ERROR_INVALID_PARAMETER},
       {ERROR_SUCCESS},
       true,
       Ends::kReplaced,
       1,
       1},
      {"a volume without POSIX semantics", false, {}, {ERROR_SUCCESS}, true, Ends::kReplaced, 0, 1},
      {"a volume without POSIX semantics, and the file stays held",
       false,
       {},
       {ERROR_SHARING_VIOLATION},
       true,
       Ends::kFailedChangingNothing,
       0,
       6},
      {"a full disk", true, {ERROR_DISK_FULL}, {}, true, Ends::kFailedChangingNothing, 1, 0},
      {"a new file whose name stays held",
       true,
       {ERROR_ACCESS_DENIED},
       {},
       false,
       Ends::kFailedChangingNothing,
       6,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto path = dir / "ball.txt";
    if (c.file_exists) {
      WriteBytes(path, "saved earlier");
    }
    const std::uint64_t id = c.file_exists ? FileIdOf(path) : 0;
    const FolderState before = FolderState::Of(dir.path());
    ScriptedRenames renames(c.posix_semantics,
                            c.by_handle.empty() ? std::vector<DWORD>{0} : c.by_handle,
                            c.by_name.empty() ? std::vector<DWORD>{0} : c.by_name);
    const DWORD start = GetTickCount();
    if (c.ends == Ends::kFailedChangingNothing) {
      EXPECT_THROW(WriteSprite(path), SpriteFileError);
      EXPECT_EQ(FolderState::Of(dir.path()), before);
    } else {
      EXPECT_NO_THROW(WriteSprite(path));
      EXPECT_EQ(ReadBytes(path), ClearSprite());
      EXPECT_EQ(FileIdOf(path) == id, c.ends == Ends::kWrittenInPlace);
      EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"ball.txt"});
    }
    EXPECT_LT(GetTickCount() - start, 1000u) << "a lock is waited for well under a second";
    EXPECT_EQ(renames.by_handle_calls, c.by_handle_calls);
    EXPECT_EQ(renames.by_name_calls, c.by_name_calls);
  }
}

// A leftover that another user's save left in a shared folder is theirs to clear.
TEST(WindowsReplace, AnotherUsersLeftoverIsNotTouched) {
  TempDir dir;
  const auto leftover = dir / ".ball.txt.0123456789abcdef.kavoni-save.tmp";
  WriteBytes(leftover, "another user's");
  std::filesystem::last_write_time(
      leftover, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  PSID users = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-545", &users));
  const DWORD given =
      SetNamedSecurityInfoW(const_cast<wchar_t*>(leftover.c_str()), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION, users, nullptr, nullptr, nullptr);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool taken =
      given == ERROR_SUCCESS &&
      GetNamedSecurityInfoW(leftover.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
      EqualSid(owner, users);
  LocalFree(descriptor);
  LocalFree(users);
  if (!taken) {
    GTEST_SKIP() << "this system does not let the test give a file to another owner";
  }
  WriteSprite(dir / "ball.txt");
  EXPECT_EQ(ReadBytes(leftover), "another user's");
}

TEST(WindowsReplace, DeviceIsRefused) {
  EXPECT_THROW(SpriteTextFile{std::filesystem::path(L"\\\\.\\NUL")}, SpriteFileError);
}

}  // namespace
}  // namespace kavoni

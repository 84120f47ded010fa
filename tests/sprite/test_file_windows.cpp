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
#include <cwchar>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "sprite/file.h"
#include "sprite/native_file_windows_calls.h"
#include "sprite/native_file_windows_paths.h"
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

// A rename by handle with POSIX semantics, as Windows 10 makes it on NTFS. Wine has none, and
// refuses a rename over an open file as Windows does without them; the Unix rename below it
// does what Windows' would.
DWORD RenameByHandleThroughUnix(HANDLE file, const wchar_t* to) {
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
    return RenameByHandleThroughUnix(file, to);
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

// Every Windows call of a save, answered as Windows answers it where Wine cannot, and made to
// fail where a test says so. Beneath the faults, a test's own answers can stand in for any call
// (an encrypted file, an owner that may not be given); beneath those, the real calls. Paths
// longer than MAX_PATH are always refused unless they are in the extended-length form, as
// Windows refuses them to a program that has not opted into long paths (Wine takes them).
class WindowsAnswers {
 public:
  // The `nth` call (from 1; 0 for every one) to `call` fails with `error`.
  struct Fault {
    std::string call;
    int nth;
    DWORD error;
  };

  explicit WindowsAnswers(void (*answers)(native::WindowsCalls&) = nullptr,
                          std::vector<Fault> faults = {})
      : real_(native::Calls()), beneath_(real_), faults_(std::move(faults)) {
    current_ = this;
    if (answers != nullptr) {
      answers(beneath_);
    }
    native::WindowsCalls& calls = native::Calls();
    Wrap<&native::WindowsCalls::create_file>(calls, "create_file");
    Wrap<&native::WindowsCalls::get_full_path_name>(calls, "get_full_path_name");
    Wrap<&native::WindowsCalls::get_final_path_name>(calls, "get_final_path_name");
    Wrap<&native::WindowsCalls::get_file_attributes>(calls, "get_file_attributes");
    Wrap<&native::WindowsCalls::get_file_information>(calls, "get_file_information");
    Wrap<&native::WindowsCalls::set_file_information>(calls, "set_file_information");
    Wrap<&native::WindowsCalls::get_security>(calls, "get_security");
    Wrap<&native::WindowsCalls::set_security>(calls, "set_security");
    Wrap<&native::WindowsCalls::get_token_information>(calls, "get_token_information");
    Wrap<&native::WindowsCalls::read_file>(calls, "read_file");
    Wrap<&native::WindowsCalls::write_file>(calls, "write_file");
    Wrap<&native::WindowsCalls::flush_file_buffers>(calls, "flush_file_buffers");
    Wrap<&native::WindowsCalls::set_compression>(calls, "set_compression");
    Wrap<&native::WindowsCalls::reopen_file>(calls, "reopen_file");
    Wrap<&native::WindowsCalls::delete_file>(calls, "delete_file");
    Wrap<&native::WindowsCalls::find_first_file>(calls, "find_first_file");
    Wrap<&native::WindowsCalls::find_next_file>(calls, "find_next_file");
    Wrap<&native::WindowsCalls::find_close>(calls, "find_close");
    Wrap<&native::WindowsCalls::close_handle>(calls, "close_handle");
    Wrap<&native::WindowsCalls::rename_by_handle>(calls, "rename_by_handle");
    Wrap<&native::WindowsCalls::rename_by_name>(calls, "rename_by_name");
    Wrap<&native::WindowsCalls::has_posix_semantics>(calls, "has_posix_semantics");
  }
  ~WindowsAnswers() {
    native::Calls() = real_;
    current_ = nullptr;
  }
  WindowsAnswers(const WindowsAnswers&) = delete;
  WindowsAnswers& operator=(const WindowsAnswers&) = delete;

  // The calls as Windows (here Wine) makes them, for a test's answers to build on.
  static const native::WindowsCalls& Real() { return current_->real_; }

  // Every call made, in order, and which of them failed by a fault.
  struct Made {
    std::string call;
    bool faulted;
  };
  const std::vector<Made>& made() const { return made_; }
  int Count(const std::string& call) const {
    return static_cast<int>(std::count_if(made_.begin(), made_.end(),
                                          [&](const Made& made) { return made.call == call; }));
  }

 private:
  // The error with which the call now made must fail, if any.
  std::optional<DWORD> FaultFor(const std::string& call) {
    const int nth = Count(call) + 1;
    std::optional<DWORD> error;
    for (const Fault& fault : faults_) {
      if (fault.call == call && (fault.nth == 0 || fault.nth == nth)) {
        error = fault.error;
      }
    }
    made_.push_back({call, error.has_value()});
    return error;
  }

  static bool IsLongWithoutExtendedForm(const wchar_t* path) {
    return path != nullptr && std::wcsncmp(path, L"\\\\?\\", 4) != 0 &&
           std::wcslen(path) >= MAX_PATH;
  }
  template <typename Argument>
  static bool IsTooLong(Argument argument) {
    if constexpr (std::is_same_v<Argument, const wchar_t*>) {
      return IsLongWithoutExtendedForm(argument);
    } else {
      return false;
    }
  }

  // What each kind of call returns when it fails: the security calls and the renames the error
  // itself, GetFileAttributesW INVALID_FILE_ATTRIBUTES, the path calls a length of 0, the
  // handle calls INVALID_HANDLE_VALUE, the rest FALSE; with the error for GetLastError().
  template <typename Result>
  static Result Failed(const std::string& call, DWORD error) {
    SetLastError(error);
    if constexpr (std::is_same_v<Result, HANDLE>) {
      return INVALID_HANDLE_VALUE;
    } else if constexpr (std::is_same_v<Result, DWORD>) {
      if (call == "get_file_attributes") {
        return INVALID_FILE_ATTRIBUTES;
      }
      const bool returns_error =
          call == "get_security" || call == "set_security" || call.starts_with("rename_by");
      return returns_error ? error : 0;
    } else {
      return Result{};
    }
  }

  template <auto Member>
  struct Wrapper;
  template <typename Result, typename... Arguments,
            Result (*native::WindowsCalls::*Member)(Arguments...)>
  struct Wrapper<Member> {
    static inline const char* name = nullptr;
    static Result Call(Arguments... arguments) {
      const std::string call = name;
      if ((IsTooLong(arguments) || ...)) {
        current_->made_.push_back({call, false});
        return Failed<Result>(call, ERROR_PATH_NOT_FOUND);
      }
      if (const std::optional<DWORD> error = current_->FaultFor(call)) {
        // A handle is gone after its close, whatever the close answers.
        if (call == "close_handle" || call == "find_close") {
          (current_->beneath_.*Member)(arguments...);
        }
        return Failed<Result>(call, *error);
      }
      return (current_->beneath_.*Member)(arguments...);
    }
  };
  template <auto Member>
  static void Wrap(native::WindowsCalls& calls, const char* name) {
    Wrapper<Member>::name = name;
    calls.*Member = Wrapper<Member>::Call;
  }

  static inline WindowsAnswers* current_ = nullptr;
  native::WindowsCalls real_;
  native::WindowsCalls beneath_;
  std::vector<Fault> faults_;
  std::vector<Made> made_;
};

// The name that an open file has now, as Wine gives it.
std::wstring NameOf(HANDLE file) {
  wchar_t name[MAX_PATH] = {};
  const DWORD length = WindowsAnswers::Real().get_final_path_name(file, name, MAX_PATH);
  return length > 0 && length < MAX_PATH ? name : L"";
}
bool IsTemporaryFile(HANDLE file) {
  return NameOf(file).ends_with(L".kavoni-save.tmp");
}
bool IsTheSprite(HANDLE file) {
  return NameOf(file).ends_with(L"\\ball.txt");
}

// A Windows answer that a test puts in place of the real one: the file's attributes with
// `added` among them, for the file that `which` picks.
template <bool (*Which)(HANDLE), DWORD Added>
void ReportAttribute(native::WindowsCalls& calls) {
  calls.get_file_information = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info,
                                  DWORD size) {
    const BOOL got = WindowsAnswers::Real().get_file_information(file, which, info, size);
    if (got && which == FileBasicInfo && Which(file)) {
      static_cast<FILE_BASIC_INFO*>(info)->FileAttributes |= Added;
    }
    return got;
  };
}

// The compression that Windows sets on request, accepted only as `State` for the temporary file.
template <USHORT State>
void CompressesTheNewFileAs(native::WindowsCalls& calls) {
  calls.set_compression = [](HANDLE file, USHORT state) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return state == State && IsTemporaryFile(file) ? TRUE : FALSE;
  };
}

// Each name in `folder` with the bytes of the file of that name, listed through Windows itself:
// MinGW's folder listing cannot open every long path.
std::vector<std::pair<std::wstring, std::string>> Contents(const std::filesystem::path& folder) {
  std::vector<std::pair<std::wstring, std::string>> contents;
  const std::wstring extended = L"\\\\?\\" + folder.wstring() + L"\\";
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((extended + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot list " << folder;
    return contents;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      std::string bytes = "(a folder)";
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        try {
          bytes = ReadBytes(extended + name);
        } catch (const std::runtime_error&) {
          bytes = "(cannot be read)";
        }
      }
      contents.emplace_back(name, bytes);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(contents.begin(), contents.end());
  return contents;
}

// A folder `length` characters long, made of names of at most 100 below `dir`.
std::filesystem::path LongFolder(const TempDir& dir, std::size_t length) {
  std::wstring folder = dir.path().wstring();
  while (folder.size() < length) {
    const std::size_t name = std::min<std::size_t>(100, length - folder.size() - 1);
    folder += L"\\" + std::wstring(std::max<std::size_t>(name, 1), L'd');
    if (!CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) {
      ADD_FAILURE() << "cannot make the folder, error " << GetLastError();
    }
  }
  return folder;
}

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

// Whether `security` lets this user alone in: one entry, this user's, and nothing inherited.
bool IsForThisUserAlone(const SECURITY_ATTRIBUTES* security) {
  HANDLE token = nullptr;
  std::vector<BYTE> user(256);
  DWORD size = 0;
  const bool got = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                   GetTokenInformation(token, TokenUser, user.data(), 256, &size);
  CloseHandle(token);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  void* entry = nullptr;
  return got && security != nullptr &&
         GetSecurityDescriptorDacl(security->lpSecurityDescriptor, &present, &list, &defaulted) &&
         present && list != nullptr && list->AceCount == 1 &&
         GetSecurityDescriptorControl(security->lpSecurityDescriptor, &control, &revision) &&
         (control & SE_DACL_PROTECTED) != 0 && GetAce(list, 0, &entry) &&
         static_cast<ACE_HEADER*>(entry)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
         EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart,
                  reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
}

// Refuses, with an error that fails the save, a new file that others could open while it is
// written: one shared with anyone, one that replaces a file and is not for this user alone,
// and one that another program can open for reading by the time its content goes in.
void NewFileMustBePrivate(native::WindowsCalls& calls) {
  calls.create_file = [](const wchar_t* path, DWORD access, DWORD share,
                         SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags) {
    const bool replaces =
        std::filesystem::exists(std::filesystem::path(path).parent_path() / "ball.txt");
    if (disposition == CREATE_NEW &&
        (share != 0 || (replaces ? !IsForThisUserAlone(security) : security != nullptr))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    return WindowsAnswers::Real().create_file(path, access, share, security, disposition, flags);
  };
  calls.write_file = [](HANDLE file, const void* bytes, DWORD size, DWORD* written,
                        OVERLAPPED* at) {
    if (IsTemporaryFile(file)) {
      const HANDLE other = CreateFileW(NameOf(file).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
      if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
    }
    return WindowsAnswers::Real().write_file(file, bytes, size, written, at);
  };
}

void OwnerMayNotBeGiven(native::WindowsCalls& calls) {
  calls.set_security = [](HANDLE file, SECURITY_INFORMATION which, PSID owner, PACL dacl) {
    return (which & OWNER_SECURITY_INFORMATION) != 0
               ? static_cast<DWORD>(ERROR_INVALID_OWNER)
               : WindowsAnswers::Real().set_security(file, which, owner, dacl);
  };
}

// Windows refuses new files with ERROR_ACCESS_DENIED: where the folder does not let this user
// create any (and says so when it is asked for that right), or only this once.
template <bool kFolderSaysSo>
void RefusesNewFiles(native::WindowsCalls& calls) {
  calls.create_file = [](const wchar_t* path, DWORD access, DWORD share,
                         SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags) {
    if ((kFolderSaysSo && access == FILE_ADD_FILE) || disposition == CREATE_NEW) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return WindowsAnswers::Real().create_file(path, access, share, security, disposition, flags);
  };
}
constexpr auto FolderTakesNoNewFiles = RefusesNewFiles<true>;
constexpr auto NewFileRefusedForAMoment = RefusesNewFiles<false>;

// A disk with no room left: a file cannot grow, by a write past its end or by a new length.
void FullDisk(native::WindowsCalls& calls) {
  calls.set_file_information = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info,
                                  DWORD size) {
    LARGE_INTEGER length{};
    if (which == FileEndOfFileInfo && GetFileSizeEx(file, &length) &&
        static_cast<FILE_END_OF_FILE_INFO*>(info)->EndOfFile.QuadPart > length.QuadPart) {
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    return WindowsAnswers::Real().set_file_information(file, which, info, size);
  };
  calls.write_file = [](HANDLE file, const void* bytes, DWORD size, DWORD* written,
                        OVERLAPPED* at) {
    LARGE_INTEGER length{};
    const long long end =
        at != nullptr ? ((static_cast<long long>(at->OffsetHigh) << 32) | at->Offset) + size : 0;
    if (at == nullptr || !GetFileSizeEx(file, &length) || end > length.QuadPart) {
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    return WindowsAnswers::Real().write_file(file, bytes, size, written, at);
  };
}

void CompressedFile(native::WindowsCalls& calls) {
  ReportAttribute<IsTheSprite, FILE_ATTRIBUTE_COMPRESSED>(calls);
  CompressesTheNewFileAs<COMPRESSION_FORMAT_DEFAULT>(calls);
}

void PlainFileInACompressedFolder(native::WindowsCalls& calls) {
  ReportAttribute<IsTemporaryFile, FILE_ATTRIBUTE_COMPRESSED>(calls);
  CompressesTheNewFileAs<COMPRESSION_FORMAT_NONE>(calls);
}

TEST(WindowsReplace, EachAnswerOfTheRenameTakesTheSaveItsWay) {
  enum class Ends { kReplaced, kWrittenInPlace, kFailedChangingNothing };
  const struct {
    const char* what;
    bool posix_semantics;
    std::vector<DWORD> by_handle = {};
    std::vector<DWORD> by_name = {};
    bool file_exists;
    Ends ends;
    int by_handle_calls = 0;
    int by_name_calls = 0;
    // Below a folder this long, given in the plain form that the save dialog returns.
    std::size_t folder_length = 0;
    // The file has a second name, other.txt.
    bool second_name = false;
    // Windows' own answers, where Wine cannot give them, and the calls that fail.
    void (*answers)(native::WindowsCalls&) = nullptr;
    std::vector<WindowsAnswers::Fault> faults = {};
    // How often a call must be made.
    std::vector<std::pair<std::string, int>> calls = {};
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
      {.what = "the new file is for this user alone and shared with nobody until it is renamed",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kReplaced,
       .by_handle_calls = 1,
       .answers = NewFileMustBePrivate},
      {.what = "a new file is shared with nobody until it is renamed",
       .posix_semantics = true,
       .file_exists = false,
       .ends = Ends::kReplaced,
       .by_handle_calls = 1,
       .answers = NewFileMustBePrivate},
      {.what = "an owner that this user may not give",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .answers = OwnerMayNotBeGiven},
      {.what = "an encrypted file",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .answers = ReportAttribute<IsTheSprite, FILE_ATTRIBUTE_ENCRYPTED>,
       .calls = {{"create_file", 2}}},
      {.what = "a plain file in a folder that encrypts new files",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .answers = ReportAttribute<IsTemporaryFile, FILE_ATTRIBUTE_ENCRYPTED>},
      {.what = "a compressed file",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kReplaced,
       .by_handle_calls = 1,
       .answers = CompressedFile,
       .calls = {{"set_compression", 1}}},
      {.what = "a plain file in a folder that compresses new files",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kReplaced,
       .by_handle_calls = 1,
       .answers = PlainFileInACompressedFolder,
       .calls = {{"set_compression", 1}}},
      {.what = "a compressed file on a volume that cannot compress new files",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .answers = ReportAttribute<IsTheSprite, FILE_ATTRIBUTE_COMPRESSED>,
       .faults = {{"set_compression", 0, ERROR_INVALID_FUNCTION}}},
      {.what = "a compressed file, and the disk fills while the new one is compressed",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kFailedChangingNothing,
       .answers = ReportAttribute<IsTheSprite, FILE_ATTRIBUTE_COMPRESSED>,
       .faults = {{"set_compression", 0, ERROR_DISK_FULL}}},
      {.what = "a folder where this user may not create files",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .answers = FolderTakesNoNewFiles},
      {.what = "a new file in a folder where this user may not create files",
       .posix_semantics = true,
       .file_exists = false,
       .ends = Ends::kFailedChangingNothing,
       .answers = FolderTakesNoNewFiles},
      {.what = "a folder that refuses the new file for a moment",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kFailedChangingNothing,
       .answers = NewFileRefusedForAMoment},
      {.what = "a file this user may write but not delete",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .faults = {{"reopen_file", 0, ERROR_ACCESS_DENIED}}},
      {.what = "a volume without POSIX semantics, and a program holds the file without sharing "
               "its deletion",
       .posix_semantics = false,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .faults = {{"reopen_file", 0, ERROR_SHARING_VIOLATION}}},
      {.what = "no memory to read the file's access list",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kFailedChangingNothing,
       .faults = {{"get_security", 1, ERROR_NOT_ENOUGH_MEMORY}}},
      {.what = "no memory to give the new file its access list",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kFailedChangingNothing,
       .faults = {{"set_security", 2, ERROR_NOT_ENOUGH_MEMORY}}},
      {.what = "a file with a second name",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kWrittenInPlace,
       .second_name = true},
      {.what = "a file with a second name on a full disk: nothing is written before there is room",
       .posix_semantics = true,
       .file_exists = true,
       .ends = Ends::kFailedChangingNothing,
       .second_name = true,
       .answers = FullDisk,
       .calls = {{"write_file", 0}}},
      {.what = "a new file whose temporary file's path alone crosses MAX_PATH",
       .posix_semantics = false,
       .file_exists = false,
       .ends = Ends::kReplaced,
       .by_name_calls = 1,
       .folder_length = 230},
      {.what = "a new file below a folder 300 characters long",
       .posix_semantics = false,
       .file_exists = false,
       .ends = Ends::kReplaced,
       .by_name_calls = 1,
       .folder_length = 300},
      {.what = "a file below a folder 300 characters long",
       .posix_semantics = false,
       .file_exists = true,
       .ends = Ends::kReplaced,
       .by_name_calls = 1,
       .folder_length = 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::filesystem::path folder =
        c.folder_length > 0 ? LongFolder(dir, c.folder_length) : dir.path();
    const auto path = folder / "ball.txt";
    if (c.file_exists) {
      WriteBytes(path, "saved earlier");
    }
    std::vector<std::pair<std::wstring, std::string>> after_saving = {{L"ball.txt", ClearSprite()}};
    if (c.second_name) {
      ASSERT_TRUE(CreateHardLinkW((folder / "other.txt").c_str(), path.c_str(), nullptr));
      after_saving.emplace_back(L"other.txt", ClearSprite());
    }
    const std::uint64_t id = c.file_exists ? FileIdOf(path) : 0;
    const auto before = Contents(folder);
    WindowsAnswers windows(c.answers, c.faults);
    ScriptedRenames renames(c.posix_semantics,
                            c.by_handle.empty() ? std::vector<DWORD>{0} : c.by_handle,
                            c.by_name.empty() ? std::vector<DWORD>{0} : c.by_name);
    const DWORD start = GetTickCount();
    if (c.ends == Ends::kFailedChangingNothing) {
      EXPECT_THROW(WriteSprite(path), SpriteFileError);
      EXPECT_EQ(Contents(folder), before);
    } else {
      EXPECT_NO_THROW(WriteSprite(path));
      EXPECT_EQ(ReadBytes(path), ClearSprite());
      EXPECT_EQ(FileIdOf(path) == id, c.ends == Ends::kWrittenInPlace);
      EXPECT_EQ(Contents(folder), after_saving);
    }
    EXPECT_LT(GetTickCount() - start, 1000u) << "a lock is waited for well under a second";
    EXPECT_EQ(renames.by_handle_calls, c.by_handle_calls);
    EXPECT_EQ(renames.by_name_calls, c.by_name_calls);
    for (const auto& [call, count] : c.calls) {
      EXPECT_EQ(windows.Count(call), count) << call;
    }
  }
}

void PosixSemantics(native::WindowsCalls& calls) {
  calls.has_posix_semantics = [](HANDLE) { return true; };
  calls.rename_by_handle = RenameByHandleThroughUnix;
}

// Every call that a save makes fails in turn, with errors that mean nothing but failure (a
// device error, no memory, a full disk), in each way of saving: the Error box, the old file
// byte-identical and nothing left beside it, or a save that goes on its own way regardless
// where the call's failure is one it may outlive. A passing error never sends a save another
// way. After the new content is in place, a failure may still be reported, and the new content
// stays. A second failure, while a write in place puts the old bytes back, is reported as
// leaving the file damaged, never as the file kept.
TEST(WindowsReplace, EachFailingCallEndsInTheBoxAndKeepsTheOldFile) {
  using Listing = std::vector<std::pair<std::wstring, std::string>>;
  enum class Way { kRenamed, kWrittenInPlace };
  const struct {
    const char* what;
    void (*answers)(native::WindowsCalls&);
    bool file_exists;
    bool second_name;
    Way way;
  } ways[] = {
      {"a new file", PosixSemantics, false, false, Way::kRenamed},
      {"a file renamed over by handle", PosixSemantics, true, false, Way::kRenamed},
      {"a file renamed over by name", nullptr, true, false, Way::kRenamed},
      {"a file with a second name, written in place", nullptr, true, true, Way::kWrittenInPlace},
  };
  // Calls whose failure a save outlives before anything is in place: a name that Windows
  // cannot give (only a link needs one), a handle that does not close, and a volume that does
  // not say what renames it has (the older rename, which every volume has, then does).
  const std::vector<std::string> outlived = {"get_final_path_name", "close_handle",
                                             "has_posix_semantics"};
  const DWORD errors[] = {ERROR_IO_DEVICE, ERROR_NOT_ENOUGH_MEMORY, ERROR_DISK_FULL};

  for (const auto& w : ways) {
    SCOPED_TRACE(w.what);
    const auto run = [&](const std::vector<WindowsAnswers::Fault>& faults,
                         std::vector<WindowsAnswers::Made>* made) {
      TempDir dir;
      const auto path = dir / "ball.txt";
      if (w.file_exists) {
        WriteBytes(path, "saved earlier, and longer than the sprite that replaces it: " +
                             std::string(400, 'x'));
      }
      if (w.second_name) {
        EXPECT_TRUE(CreateHardLinkW((dir / "other.txt").c_str(), path.c_str(), nullptr));
      }
      const std::uint64_t id = w.file_exists ? FileIdOf(path) : 0;
      const Listing before = Contents(dir.path());
      Listing after_saving = {{L"ball.txt", ClearSprite()}};
      if (w.second_name) {
        after_saving.emplace_back(L"other.txt", ClearSprite());
      }
      std::string failure;
      bool saved = false;
      {
        WindowsAnswers windows(w.answers, faults);
        try {
          WriteSprite(path);
          saved = true;
        } catch (const SpriteFileError& error) {
          failure = error.what();
        }
        if (made != nullptr) {
          *made = windows.made();
        }
      }
      struct Outcome {
        bool saved;
        bool unchanged;
        bool replaced;
        bool same_way;
        std::string failure;
      };
      const Listing now = Contents(dir.path());
      return Outcome{saved, now == before, now == after_saving,
                     !w.file_exists || (FileIdOf(path) == id) == (w.way == Way::kWrittenInPlace),
                     failure};
    };

    std::vector<WindowsAnswers::Made> calls;
    run({}, &calls);
    ASSERT_FALSE(calls.empty());
    // From this call on, the new content is in place: the rename, or the flush of a write in
    // place.
    std::size_t in_place_from = calls.size();
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].call.starts_with("rename_by")) {
        in_place_from = i + 1;
      } else if (w.way == Way::kWrittenInPlace && calls[i].call == "flush_file_buffers") {
        in_place_from = i + 1;
      }
    }
    std::map<std::string, int> nth;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const std::string& call = calls[i].call;
      const int which = ++nth[call];
      for (const DWORD error : errors) {
        SCOPED_TRACE(call + " #" + std::to_string(which) + " fails with " + std::to_string(error));
        const auto outcome = run({{call, which, error}}, nullptr);
        if (i >= in_place_from) {
          EXPECT_TRUE(outcome.replaced) << outcome.failure;
        } else if (outcome.saved) {
          EXPECT_NE(std::find(outlived.begin(), outlived.end(), call), outlived.end())
              << "a failure reported as success";
          EXPECT_TRUE(outcome.replaced);
          EXPECT_TRUE(outcome.same_way) << "a passing error changed the way of saving";
        } else {
          EXPECT_TRUE(outcome.unchanged) << outcome.failure;
        }
      }
    }

    // A second failure after the first flush failed, once the new content was written: the old
    // bytes go back, or the failure says that they could not.
    std::vector<WindowsAnswers::Made> after_first;
    const WindowsAnswers::Fault first{"flush_file_buffers", 1, ERROR_IO_DEVICE};
    run({first}, &after_first);
    std::map<std::string, int> nth_after;
    bool past_first = false;
    for (const WindowsAnswers::Made& made : after_first) {
      const int which = ++nth_after[made.call];
      if (!past_first) {
        past_first = made.faulted;
        continue;
      }
      SCOPED_TRACE("then " + made.call + " #" + std::to_string(which) + " fails");
      const auto outcome = run({first, {made.call, which, ERROR_IO_DEVICE}}, nullptr);
      EXPECT_FALSE(outcome.saved);
      EXPECT_TRUE(outcome.unchanged ||
                  outcome.failure.find("could not be written back") != std::string::npos)
          << outcome.failure;
    }
  }
}

// A path becomes one that no MAX_PATH limit applies to, normalised as Windows normalises it.
TEST(WindowsReplace, PathsTakeTheExtendedLengthForm) {
  wchar_t current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
  std::wstring here = current;
  if (!here.ends_with(L"\\")) {
    here += L"\\";
  }
  const std::wstring deep = L"C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
  const struct {
    std::wstring path;
    std::wstring extended;
  } cases[] = {
      {L"C:\\sprites\\ball.txt", L"\\\\?\\C:\\sprites\\ball.txt"},
      {L"c:/sprites//./old/../ball.txt", L"\\\\?\\c:\\sprites\\ball.txt"},
      {L"C:\\sprites\\ball.txt. . ", L"\\\\?\\C:\\sprites\\ball.txt"},
      {L"C:\\..\\ball.txt", L"\\\\?\\C:\\ball.txt"},
      {L"\\\\server\\share\\sprites\\ball.txt", L"\\\\?\\UNC\\server\\share\\sprites\\ball.txt"},
      {L"//server/share/../../ball.txt", L"\\\\?\\UNC\\server\\share\\ball.txt"},
      {L"ball.txt", L"\\\\?\\" + here + L"ball.txt"},
      {deep + L"\\.\\ball.txt", L"\\\\?\\" + deep + L"\\ball.txt"},
      {deep + L"\\..\\ball.txt . ", L"\\\\?\\C:\\" + std::wstring(150, L'a') + L"\\ball.txt"},
      {L"\\\\?\\C:\\sprites\\.\\ball.txt", L"\\\\?\\C:\\sprites\\.\\ball.txt"},
      {L"\\\\.\\NUL", L"\\\\.\\NUL"},
  };
  WindowsAnswers windows;
  for (const auto& c : cases) {
    EXPECT_EQ(native::ExtendedLengthPath(c.path), c.extended)
        << std::filesystem::path(c.path).string();
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

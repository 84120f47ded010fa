// Saving on Windows. The target is replaced by renaming a temporary file over it, by handle and
// with POSIX semantics where the system has them (Windows 10 1809 and later, on NTFS), since
// sync clients, the search indexer and virus scanners hold files open, and only that rename
// succeeds while they do. Elsewhere MoveFileExW does it, which any open handle on the target
// stops. A lock that goes away is waited for a moment. A file that still cannot be replaced,
// one with several hard links, and one whose access list or owner the new file could not be
// given exactly, is written in place, through the handle opened and checked when the save
// began.
//
// Paths go to the wide ("W") calls as the file system's own UTF-16, so any file name the user
// can type opens, whatever the ANSI code page holds.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sprite/file.h"
#include "sprite/native_file.h"
#include "sprite/temporary_name.h"

namespace kavoni::native {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* what, DWORD error) {
  throw SpriteFileError(std::string(what) + ": Windows error " + std::to_string(error));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// NTFS, ReFS, exFAT and FAT32's long names all take 255 UTF-16 units.
constexpr std::size_t kNameMax = 255;

// FileRenameInfoEx and its flags, which MinGW-w64's headers offer only for some values of
// _WIN32_WINNT: FILE_INFO_BY_HANDLE_CLASS value 22, FILE_RENAME_FLAG_REPLACE_IF_EXISTS and
// FILE_RENAME_FLAG_POSIX_SEMANTICS.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1;
constexpr DWORD kPosixSemantics = 0x2;
// FILE_SUPPORTS_POSIX_UNLINK_RENAME, which a volume reports where such renames work.
constexpr DWORD kSupportsPosixRename = 0x400;

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// An open handle, closed when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

  // Closes and reports a failing close.
  void Close() {
    if (!CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE))) {
      Fail("cannot close", GetLastError());
    }
  }

 private:
  void Reset() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Frees what GetSecurityInfo and its kin hand out, however the caller ends.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) {
      LocalFree(memory_);
    }
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &memory_; }
  PSECURITY_DESCRIPTOR get() const { return memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

void WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
      Fail("cannot write", GetLastError());
    }
    // Nothing written and no error: trying again would loop for ever.
    if (written == 0) {
      Fail("cannot write", ERROR_WRITE_FAULT);
    }
    bytes.remove_prefix(written);
  }
}

void Sync(HANDLE file) {
  if (!FlushFileBuffers(file)) {
    Fail("cannot sync", GetLastError());
  }
}

void WriteInPlace(Handle& file, std::string_view content) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
    Fail("cannot empty the file", GetLastError());
  }
  WriteAll(file.get(), content);
  Sync(file.get());
  file.Close();
}

// Gives `to` the access list of `from` exactly, inherited entries and protection included, and
// its owner. True only when `to` ends with both, its owner as read back from `to` itself: a new
// file has its folder's list and this user as its owner, which may let in people the file kept
// out, or keep out the file's owner.
bool CopySecurity(HANDLE from, HANDLE to) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory descriptor;
  if (GetSecurityInfo(from, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, descriptor.out()) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
    return false;
  }
  // Without protection, the entries inherited from the folder are worked out afresh, and the
  // folder is the same one.
  const SECURITY_INFORMATION protection = (control & SE_DACL_PROTECTED) != 0
                                              ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION;
  if (SetSecurityInfo(to, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr, nullptr,
                      dacl, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // Only a privileged process may give a file to someone else; whether it could shows below.
  static_cast<void>(SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                                    nullptr, nullptr));
  PSID lent_owner = nullptr;
  LocalMemory lent;
  return GetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &lent_owner, nullptr,
                         nullptr, nullptr, lent.out()) == ERROR_SUCCESS &&
         EqualSid(owner, lent_owner);
}

// Gives `to` the access of `from` (see CopySecurity), the flags a user sets on a file (hidden,
// archive and the like) and its creation time; the times of the new content stay its own.
bool LendAttributes(HANDLE from, HANDLE to) {
  if (!CopySecurity(from, to)) {
    return false;
  }
  FILE_BASIC_INFO mine{};
  if (!GetFileInformationByHandleEx(from, FileBasicInfo, &mine, sizeof mine)) {
    return false;
  }
  FILE_BASIC_INFO lent{};
  lent.CreationTime = mine.CreationTime;
  lent.FileAttributes =
      mine.FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (lent.FileAttributes == 0) {
    lent.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  return SetFileInformationByHandle(to, FileBasicInfo, &lent, sizeof lent) != FALSE;
}

unsigned LinkCount(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) {
    Fail("cannot read the file's attributes", GetLastError());
  }
  return info.nNumberOfLinks;
}

// Where a save to `path` lands: the file at the end of any chain of symbolic links, which is
// the file to replace, so that the links themselves stay.
fs::path FinalPath(const fs::path& path) {
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is the file at the end of any
  // links, whose name the system then gives. Every existing file is asked, since not every
  // kind of link says that it is one (Wine shows a Unix link as the file it leads to).
  const Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    // A link to nothing, whose target Windows does not name: writing a file in its place
    // would lose the link.
    if (IsLink(GetFileAttributesW(path.c_str()))) {
      Fail("cannot follow the link", error);
    }
    return path;
  }
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(
        file.get(), final_path.data(), static_cast<DWORD>(final_path.size()), FILE_NAME_NORMALIZED);
    if (length == 0) {
      // Devices and some file systems have no such name; only a link needs one.
      if (IsLink(GetFileAttributesW(path.c_str()))) {
        Fail("cannot follow the link", GetLastError());
      }
      return path;
    }
    if (length < final_path.size()) {
      final_path.resize(length);
      return fs::path(final_path);
    }
    final_path.resize(length);
  }
}

// Opens the existing regular file at `path` for writing without changing it, which proves the
// user may write it. Nothing there: an empty handle.
Handle OpenExistingForWriting(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return {};
    }
    Fail("cannot look at the file", error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Fail("not a regular file", ERROR_DIRECTORY);
  }
  // Windows refuses to write a read-only file, and so must the replacement, which could
  // otherwise rename straight over it. Asked here rather than left to the open below, which
  // lets a privileged process through on some file systems.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    Fail("the file is read-only", ERROR_ACCESS_DENIED);
  }
  // Reading the access list lets it be copied to the replacement; the sharing flags let others
  // work with the file meanwhile, and let it be renamed over while this handle stays open.
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                          kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return {};
    }
    Fail("cannot open the file for writing", error);
  }
  // Names such as CON or NUL open devices, and a pipe takes anything; none holds a sprite.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    Fail("not a regular file", ERROR_BAD_FILE_TYPE);
  }
  return file;
}

// Creates `path`, which must not exist yet, with the access list that a new file gets there.
// An empty handle when the folder does not let this user create files. WRITE_DAC and
// WRITE_OWNER give it the access of the file that it replaces, READ_CONTROL checks that it
// took, and DELETE renames it by handle.
Handle CreateNew(const fs::path& path) {
  Handle file(CreateFileW(
      path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL | DELETE,
      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      return {};
    }
    Fail("cannot create the file", error);
  }
  return file;
}

unsigned long RenameByHandle(void* file, const wchar_t* to) {
  const std::size_t bytes = std::wcslen(to) * sizeof(wchar_t);
  // The name follows the fixed part, with room for its terminating NUL.
  std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  // The flags share their place with ReplaceIfExists, which not every header's union names.
  const DWORD flags = kReplaceIfExists | kPosixSemantics;
  std::memcpy(info, &flags, sizeof flags);
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->FileName, to, bytes);
  return SetFileInformationByHandle(file, kFileRenameInfoEx, info,
                                    static_cast<DWORD>(buffer.size()))
             ? ERROR_SUCCESS
             : GetLastError();
}

unsigned long RenameByName(const wchar_t* from, const wchar_t* to) {
  // Write-through: the call returns once the new name is on the disk.
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                                   : GetLastError();
}

bool HasPosixSemantics(void* file) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & kSupportsPosixRename) != 0;
}

// What Windows answers while another program holds a file in a way that stops a rename: for a
// moment, as a virus scanner does, or for as long as it keeps it open.
bool IsLocked(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// What Windows before 10 1809, and file systems other than NTFS, answer to a rename by handle
// with POSIX semantics.
bool IsUnsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED ||
         error == ERROR_INVALID_LEVEL;
}

// Tries a rename, and again after 10, 20, 40, 80 and 160 ms while a lock stops it: a third of
// a second in all, enough for a scan of a file this small.
template <typename Rename>
DWORD RenameWaitingForLocks(Rename rename) {
  DWORD error = rename();
  for (DWORD wait = 10; IsLocked(error) && wait <= 160; wait *= 2) {
    Sleep(wait);
    error = rename();
  }
  return error;
}

// This user's SIDs that may own the files it creates: the user, and the token's default owner
// (the Administrators group, for an elevated administrator).
bool IsOwnedByThisUser(PSID owner) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return false;
  }
  const Handle token(raw);
  for (const TOKEN_INFORMATION_CLASS which : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    GetTokenInformation(token.get(), which, nullptr, 0, &size);
    std::vector<std::byte> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), which, buffer.data(), size, &size)) {
      continue;
    }
    const PSID mine = which == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                         : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    if (EqualSid(owner, mine)) {
      return true;
    }
  }
  return false;
}

// Whether `path` is a plain file of this user's that nothing has written for kAbandonedAfter: a
// save's temporary file that it could not remove, and not one that another save is writing now.
bool IsAbandoned(const fs::path& path) noexcept {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  FILETIME now_file{};
  GetSystemTimeAsFileTime(&now_file);
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  // File times count 100-nanosecond ticks.
  const unsigned long long written = ticks(data.ftLastWriteTime);
  const unsigned long long now = ticks(now_file);
  const auto age = static_cast<unsigned long long>(std::chrono::seconds(kAbandonedAfter).count());
  if (now <= written || now - written <= age * 10'000'000ull) {
    return false;
  }
  PSID owner = nullptr;
  LocalMemory descriptor;
  return GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                               nullptr, nullptr, nullptr, descriptor.out()) == ERROR_SUCCESS &&
         IsOwnedByThisUser(owner);
}

// A save that was killed leaves its temporary file behind; the next save in the folder clears
// this user's own that are long abandoned, never another user's, and never one that another
// save is writing now.
void ClearAbandonedTemporaries(const fs::path& folder) noexcept {
  std::error_code error;
  fs::directory_iterator entries(folder.empty() ? "." : folder, error);
  for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
    const fs::path& path = entries->path();
    if (IsTemporaryName(path.filename()) && IsAbandoned(path)) {
      DeleteFileW(path.c_str());
    }
  }
}

}  // namespace

RenameCalls& Renames() {
  static RenameCalls calls{RenameByHandle, RenameByName, HasPosixSemantics};
  return calls;
}

struct Replacement::State {
  fs::path target;
  // The target as it was checked when the save began, if it was there: written in place
  // through this, never reopened by name.
  Handle target_file;
  // The new content's file; empty when the target is written in place.
  fs::path temporary;
  Handle temporary_file;

  void DropTemporary() noexcept {
    temporary_file = Handle();
    if (!temporary.empty()) {
      DeleteFileW(temporary.c_str());
      temporary.clear();
    }
  }

  // Renames the temporary file over the target. False, with the target's handle still open,
  // when only a lock that did not go away stopped it.
  bool Rename() {
    DWORD error = ERROR_NOT_SUPPORTED;
    if (posix_semantics) {
      error = RenameWaitingForLocks(
          [this] { return Renames().by_handle(temporary_file.get(), target.c_str()); });
    }
    if (IsUnsupported(error)) {
      // The older rename fails while any handle on the target is open, this save's own too,
      // so the fallback to writing in place goes with it.
      temporary_file.Close();
      target_file = Handle();
      error = RenameWaitingForLocks(
          [this] { return Renames().by_name(temporary.c_str(), target.c_str()); });
    }
    if (error == ERROR_SUCCESS) {
      return true;
    }
    if (!IsLocked(error) || !target_file) {
      Fail("cannot move the file into place", error);
    }
    return false;
  }

  // Without POSIX semantics only a file that no handle holds can be renamed over, this save's
  // own included, so the target's handle is let go now where the user may delete the file:
  // another save of it, from another window, then does not stop this one either. An access
  // list may let the user write the file but not delete it, and so not replace it: it is then
  // written in place.
  void PrepareOlderRename() {
    const HANDLE deleting = ReOpenFile(target_file.get(), DELETE, kShareAll, 0);
    if (deleting == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
        Fail("cannot check the file", error);
      }
      DropTemporary();
      return;
    }
    CloseHandle(deleting);
    target_file = Handle();
  }

  bool posix_semantics = false;
};

Replacement::Replacement(const fs::path& path) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.target = FinalPath(path);
  state.target_file = OpenExistingForWriting(state.target);
  // Every other name of the file must see the new sprite too, which a rename cannot do.
  if (state.target_file && LinkCount(state.target_file.get()) > 1) {
    return;
  }
  state.temporary =
      state.target.parent_path() / TemporaryNameFor(state.target.filename(), kNameMax);
  state.temporary_file = CreateNew(state.temporary);
  if (state.temporary_file &&
      (!state.target_file || LendAttributes(state.target_file.get(), state.temporary_file.get()))) {
    state.posix_semantics = Renames().has_posix_semantics(state.temporary_file.get());
    if (!state.posix_semantics && state.target_file) {
      state.PrepareOlderRename();
    }
    return;
  }
  // The folder takes no new files from this user, or the copy could not be given the file's
  // access exactly: the file itself is written, as a plain open for writing would.
  if (!state.temporary_file) {
    state.temporary.clear();
  }
  state.DropTemporary();
  if (!state.target_file) {
    Fail("this folder does not let the user create files", ERROR_ACCESS_DENIED);
  }
}

Replacement::~Replacement() {
  state_->DropTemporary();
}

void Replacement::Commit(std::string_view content) {
  State& state = *state_;
  if (state.temporary.empty()) {
    WriteInPlace(state.target_file, content);
    return;
  }
  WriteAll(state.temporary_file.get(), content);
  Sync(state.temporary_file.get());
  if (!state.Rename()) {
    WriteInPlace(state.target_file, content);
    state.DropTemporary();
    return;
  }
  // Renamed: the handle is now the target's, and the name it had is gone.
  state.temporary.clear();
  state.temporary_file = Handle();
  state.target_file = Handle();
  ClearAbandonedTemporaries(state.target.parent_path());
}

}  // namespace kavoni::native

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
#include <string>
#include <utility>

#include "sprite/file.h"
#include "sprite/native_file.h"

// Paths go to the wide ("W") calls as the file system's own UTF-16, so any file name the user
// can type opens, whatever the ANSI code page holds.
namespace kavoni::native {

namespace {

[[noreturn]] void Fail(const char* what, DWORD error) {
  throw SpriteFileError(std::string(what) + ": Windows error " + std::to_string(error));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Frees what GetSecurityInfo hands out, however the copy ends.
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

// Gives `to` the access list of `from` exactly, inherited entries and protection included, and
// its owner where this user may name it. False when the access list could not be given: a new
// file has its folder's list, which may let in more people than the file did.
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
  // Only a privileged process may give a file to someone else; otherwise the copy is the user's
  // own, as a file the user made anew would be.
  static_cast<void>(SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                                    nullptr, nullptr));
  return true;
}

}  // namespace

File::~File() {
  if (handle_ != kNoHandle) {
    CloseHandle(handle_);
  }
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) {
      CloseHandle(handle_);
    }
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

void File::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr)) {
      Fail("cannot write", GetLastError());
    }
    // Nothing written and no error: trying again would loop for ever.
    if (written == 0) {
      Fail("cannot write", ERROR_WRITE_FAULT);
    }
    bytes.remove_prefix(written);
  }
}

void File::Truncate() {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_)) {
    Fail("cannot empty the file", GetLastError());
  }
}

void File::Sync() {
  if (!FlushFileBuffers(handle_)) {
    Fail("cannot sync", GetLastError());
  }
}

void File::Close() {
  if (!CloseHandle(std::exchange(handle_, kNoHandle))) {
    Fail("cannot close", GetLastError());
  }
}

unsigned File::LinkCount() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle_, &info)) {
    Fail("cannot read the file's attributes", GetLastError());
  }
  return info.nNumberOfLinks;
}

bool File::LendAttributesTo(File& other) const {
  if (!CopySecurity(handle_, other.handle_)) {
    return false;
  }
  // The flags a user sets on a file (hidden, archive and the like) and its creation time;
  // the times of the new content stay the new file's own.
  FILE_BASIC_INFO mine{};
  if (!GetFileInformationByHandleEx(handle_, FileBasicInfo, &mine, sizeof mine)) {
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
  return SetFileInformationByHandle(other.handle_, FileBasicInfo, &lent, sizeof lent) != FALSE;
}

std::optional<File> OpenExistingForWriting(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return std::nullopt;
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
  // work with the file meanwhile.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                              kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return std::nullopt;
    }
    Fail("cannot open the file for writing", error);
  }
  File file(handle);
  // Names such as CON or NUL open devices, and a pipe takes anything; none holds a sprite.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    Fail("not a regular file", ERROR_BAD_FILE_TYPE);
  }
  return file;
}

std::filesystem::path FinalPath(const std::filesystem::path& path) {
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is the file at the end of any
  // links, whose name the system then gives. Every existing file is asked, since not every
  // kind of link says that it is one (Wine shows a Unix link as the file it leads to).
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A link to nothing, whose target Windows does not name: writing a file in its place
    // would lose the link.
    if (IsLink(GetFileAttributesW(path.c_str()))) {
      Fail("cannot follow the link", error);
    }
    return path;
  }
  const File file(handle);
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(
        handle, final_path.data(), static_cast<DWORD>(final_path.size()), FILE_NAME_NORMALIZED);
    if (length == 0) {
      // Devices and some file systems have no such name; only a link needs one.
      if (IsLink(GetFileAttributesW(path.c_str()))) {
        Fail("cannot follow the link", GetLastError());
      }
      return path;
    }
    if (length < final_path.size()) {
      final_path.resize(length);
      return std::filesystem::path(final_path);
    }
    final_path.resize(length);
  }
}

std::optional<File> CreateNew(const std::filesystem::path& path) {
  // WRITE_DAC gives the copy the access list of the file that it replaces.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      return std::nullopt;
    }
    Fail("cannot create the file", error);
  }
  return File(handle);
}

void PrepareToReplace(File& to_file) {
  if (!to_file) {
    return;
  }
  // An access list may let the user write the file but not delete it, and so not replace it.
  // Asked of the open file itself, not of whatever the name leads to.
  HANDLE deleting = ReOpenFile(to_file.handle_, DELETE, kShareAll, 0);
  if (deleting == INVALID_HANDLE_VALUE) {
    // Or another program holds it open without letting it go, but does let it be written.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      return;
    }
    Fail("cannot check the file", error);
  }
  CloseHandle(deleting);
  to_file.Close();
}

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to, File& to_file) {
  // Still open: prepared to be written in place.
  if (to_file) {
    return false;
  }
  // Write-through: the call returns once the new name is on the disk, as a synced folder
  // does on POSIX.
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail("cannot move the file into place", GetLastError());
  }
  return true;
}

bool IsAbandoned(const std::filesystem::path& path, std::chrono::seconds age) noexcept {
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
  return now > written &&
         now - written > static_cast<unsigned long long>(age.count()) * 10'000'000ull;
}

void RemoveIfPresent(const std::filesystem::path& path) noexcept {
  DeleteFileW(path.c_str());
}

void SyncFolder(const std::filesystem::path&) noexcept {
  // MOVEFILE_WRITE_THROUGH has already made the rename durable.
}

}  // namespace kavoni::native

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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
  // The flags a user sets on a file (hidden, archive and the like) and its creation time;
  // the times of the new content and the access list stay the new file's own.
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
  // The sharing flags let the replacement happen while this stays open.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

std::optional<File> CreateNew(const std::filesystem::path& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      return std::nullopt;
    }
    Fail("cannot create the file", error);
  }
  return File(handle);
}

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Write-through: the call returns once the new name is on the disk, as a synced folder
  // does on POSIX.
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    // An access list that lets the user write the file but not delete or rename it.
    if (error == ERROR_ACCESS_DENIED) {
      return false;
    }
    Fail("cannot move the file into place", error);
  }
  return true;
}

void RemoveIfPresent(const std::filesystem::path& path) noexcept {
  DeleteFileW(path.c_str());
}

void SyncFolder(const std::filesystem::path&) noexcept {
  // MOVEFILE_WRITE_THROUGH has already made the rename durable.
}

}  // namespace kavoni::native

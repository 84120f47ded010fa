// The Windows calls that saves make, as Windows itself answers them. Every function here exists
// on Windows 7 SP1; the one thing newer, the rename with POSIX semantics, is an information
// class that older systems answer with an error, which the save takes as "not here".
#include "sprite/native_file_windows_calls.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "sprite/file.h"

namespace kavoni::native {

namespace {

// FileRenameInfoEx and its flags, which MinGW-w64's headers offer only for some values of
// _WIN32_WINNT: FILE_INFO_BY_HANDLE_CLASS value 22, FILE_RENAME_FLAG_REPLACE_IF_EXISTS and
// FILE_RENAME_FLAG_POSIX_SEMANTICS.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1;
constexpr DWORD kPosixSemantics = 0x2;
// FILE_SUPPORTS_POSIX_UNLINK_RENAME, which a volume reports where such renames work (and
// which no volume reports before Windows 10 1809).
constexpr DWORD kSupportsPosixRename = 0x400;

DWORD RenameByHandle(HANDLE file, const wchar_t* to) {
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

DWORD RenameByName(const wchar_t* from, const wchar_t* to) {
  // Write-through: the call returns once the new name is on the disk.
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                                   : GetLastError();
}

bool HasPosixSemantics(HANDLE file) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & kSupportsPosixRename) != 0;
}

BOOL TokenInformation(TOKEN_INFORMATION_CLASS which, void* info, DWORD size, DWORD* needed) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return FALSE;
  }
  const BOOL got = GetTokenInformation(token, which, info, size, needed);
  const DWORD error = GetLastError();
  CloseHandle(token);
  SetLastError(error);
  return got;
}

}  // namespace

WindowsCalls& Calls() {
  static WindowsCalls calls{
      .create_file =
          [](const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
             DWORD disposition, DWORD flags) {
            return CreateFileW(path, access, share, security, disposition, flags, nullptr);
          },
      .get_full_path_name =
          [](const wchar_t* path, DWORD size, wchar_t* buffer) {
            return GetFullPathNameW(path, size, buffer, nullptr);
          },
      .get_final_path_name =
          [](HANDLE file, wchar_t* buffer, DWORD size) {
            return GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED);
          },
      .get_file_attributes = [](const wchar_t* path) { return GetFileAttributesW(path); },
      .get_file_information =
          [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info, DWORD size) {
            return GetFileInformationByHandleEx(file, which, info, size);
          },
      .set_file_information =
          [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info, DWORD size) {
            return SetFileInformationByHandle(file, which, info, size);
          },
      .get_security =
          [](HANDLE file, SECURITY_INFORMATION which, PSID* owner, PACL* dacl,
             PSECURITY_DESCRIPTOR* descriptor) {
            return GetSecurityInfo(file, SE_FILE_OBJECT, which, owner, nullptr, dacl, nullptr,
                                   descriptor);
          },
      .set_security =
          [](HANDLE file, SECURITY_INFORMATION which, PSID owner, PACL dacl) {
            return SetSecurityInfo(file, SE_FILE_OBJECT, which, owner, nullptr, dacl, nullptr);
          },
      .get_token_information = TokenInformation,
      .read_file = [](HANDLE file, void* bytes, DWORD size, DWORD* read,
                      OVERLAPPED* at) { return ReadFile(file, bytes, size, read, at); },
      .write_file = [](HANDLE file, const void* bytes, DWORD size, DWORD* written,
                       OVERLAPPED* at) { return WriteFile(file, bytes, size, written, at); },
      .flush_file_buffers = [](HANDLE file) { return FlushFileBuffers(file); },
      .set_compression =
          [](HANDLE file, USHORT state) {
            DWORD returned = 0;
            return DeviceIoControl(file, FSCTL_SET_COMPRESSION, &state, sizeof state, nullptr, 0,
                                   &returned, nullptr);
          },
      .reopen_file = [](HANDLE file, DWORD access, DWORD share,
                        DWORD flags) { return ReOpenFile(file, access, share, flags); },
      .delete_file = [](const wchar_t* path) { return DeleteFileW(path); },
      .find_first_file =
          [](const wchar_t* pattern, WIN32_FIND_DATAW* found) {
            return FindFirstFileExW(pattern, FindExInfoBasic, found, FindExSearchNameMatch, nullptr,
                                    0);
          },
      .find_next_file = [](HANDLE search,
                           WIN32_FIND_DATAW* found) { return FindNextFileW(search, found); },
      .find_close = [](HANDLE search) { return FindClose(search); },
      .close_handle = [](HANDLE handle) { return CloseHandle(handle); },
      .rename_by_handle = RenameByHandle,
      .rename_by_name = RenameByName,
      .has_posix_semantics = HasPosixSemantics,
  };
  return calls;
}

void Fail(const char* what, DWORD error) {
  throw SpriteFileError(std::string(what) + ": Windows error " + std::to_string(error));
}

}  // namespace kavoni::native

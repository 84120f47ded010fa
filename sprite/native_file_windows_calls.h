#pragma once

// Every Windows call that a save makes, through one table, and the handle and failure that the
// Windows side of saving shares. The table lets tests make any call fail, or answer as Windows
// does where Wine cannot: renames with POSIX semantics, files that other programs hold, owners
// that may not be given, encrypted and compressed files, paths longer than MAX_PATH.
//
// Each entry is the Windows function of its name with the arguments a save uses, and answers as
// that function does: its return value, and its error through GetLastError() (the security
// calls, as their Windows functions do, return the error itself).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>

namespace kavoni::native {

struct WindowsCalls {
  // CreateFileW, without a template file.
  HANDLE(*create_file)
  (const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
   DWORD flags);
  // GetFullPathNameW, without the file part.
  DWORD (*get_full_path_name)(const wchar_t* path, DWORD size, wchar_t* buffer);
  // GetFinalPathNameByHandleW: the normalised name, with its drive letter.
  DWORD (*get_final_path_name)(HANDLE file, wchar_t* buffer, DWORD size);
  DWORD (*get_file_attributes)(const wchar_t* path);
  // GetFileInformationByHandleEx and SetFileInformationByHandle.
  BOOL(*get_file_information)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info, DWORD size);
  BOOL(*set_file_information)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS which, void* info, DWORD size);
  // GetSecurityInfo and SetSecurityInfo of a file: its owner and access list.
  DWORD(*get_security)
  (HANDLE file, SECURITY_INFORMATION which, PSID* owner, PACL* dacl,
   PSECURITY_DESCRIPTOR* descriptor);
  DWORD (*set_security)(HANDLE file, SECURITY_INFORMATION which, PSID owner, PACL dacl);
  // GetTokenInformation of this process's own token.
  BOOL(*get_token_information)
  (TOKEN_INFORMATION_CLASS which, void* info, DWORD size, DWORD* needed);
  BOOL (*read_file)(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* at);
  BOOL (*write_file)(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* at);
  BOOL (*flush_file_buffers)(HANDLE file);
  // DeviceIoControl with FSCTL_SET_COMPRESSION and `state` (COMPRESSION_FORMAT_*).
  BOOL (*set_compression)(HANDLE file, USHORT state);
  HANDLE (*reopen_file)(HANDLE file, DWORD access, DWORD share, DWORD flags);
  BOOL (*delete_file)(const wchar_t* path);
  // FindFirstFileExW with the basic information, FindNextFileW and FindClose.
  HANDLE (*find_first_file)(const wchar_t* pattern, WIN32_FIND_DATAW* found);
  BOOL (*find_next_file)(HANDLE search, WIN32_FIND_DATAW* found);
  BOOL (*find_close)(HANDLE search);
  BOOL (*close_handle)(HANDLE handle);
  // The two ways that Windows renames one file over another; each returns 0 or the error.
  // Renames the open file `file` to `to` with POSIX semantics, which other programs' open
  // handles on `to` do not stop.
  DWORD (*rename_by_handle)(HANDLE file, const wchar_t* to);
  // Renames `from` over `to` the older way (MoveFileExW), which any open handle on `to` stops.
  DWORD (*rename_by_name)(const wchar_t* from, const wchar_t* to);
  // Whether the volume that holds the open file `file` says it renames with POSIX semantics.
  bool (*has_posix_semantics)(HANDLE file);
};

// The calls that saves make; tests put their own in place.
WindowsCalls& Calls();

// Throws the SpriteFileError that names the step and the Windows error.
[[noreturn]] void Fail(const char* what, DWORD error);

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
    if (!Calls().close_handle(std::exchange(handle_, INVALID_HANDLE_VALUE))) {
      Fail("cannot close", GetLastError());
    }
  }

 private:
  void Reset() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) {
      Calls().close_handle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Frees what GetSecurityInfo hands out, however the caller ends.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) {
      LocalFree(memory_);
    }
  }
  LocalMemory(LocalMemory&& other) noexcept : memory_(std::exchange(other.memory_, nullptr)) {}
  LocalMemory& operator=(LocalMemory&& other) noexcept {
    std::swap(memory_, other.memory_);
    return *this;
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &memory_; }
  PSECURITY_DESCRIPTOR get() const { return memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

}  // namespace kavoni::native

#include "sprite/native_file_windows_leftovers.h"

#include <chrono>

#include "sprite/native_file_windows_calls.h"
#include "sprite/native_file_windows_marks.h"
#include "sprite/temporary_name.h"

namespace kavoni::native {

namespace {

// Whether a file last written at `written` (100-nanosecond ticks, as file times count) has been
// left for longer than any save takes.
bool IsLongAbandoned(LARGE_INTEGER written) {
  FILETIME now_file{};
  GetSystemTimeAsFileTime(&now_file);
  const auto now = static_cast<long long>(
      (static_cast<unsigned long long>(now_file.dwHighDateTime) << 32) | now_file.dwLowDateTime);
  const long long age = std::chrono::seconds(kAbandonedAfter).count() * 10'000'000LL;
  return now > written.QuadPart && now - written.QuadPart > age;
}

// Deletes the file at `path` if it is a plain file of this user's that nothing has written for
// kAbandonedAfter. It is opened with no sharing, so one that another save holds is not opened
// at all, and what is checked is the file then deleted through that same handle.
void DeleteIfAbandoned(const std::wstring& path) {
  const Handle file(Calls().create_file(path.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
  if (!file) {
    return;
  }
  FILE_BASIC_INFO basic{};
  if (!Calls().get_file_information(file.get(), FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      !IsLongAbandoned(basic.LastWriteTime)) {
    return;
  }
  PSID owner = nullptr;
  LocalMemory descriptor;
  if (Calls().get_security(file.get(), OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           descriptor.out()) != ERROR_SUCCESS ||
      !IsOwnedByThisUser(owner)) {
    return;
  }
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = TRUE;
  Calls().set_file_information(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

void ClearAbandonedTemporaries(const std::wstring& folder) noexcept {
  WIN32_FIND_DATAW found{};
  const HANDLE search = Calls().find_first_file((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    try {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          IsTemporaryName(found.cFileName)) {
        DeleteIfAbandoned(folder + found.cFileName);
      }
    } catch (...) {
      // The save itself is done; a leftover that stays is cleared by a later one.
    }
  } while (Calls().find_next_file(search, &found));
  Calls().find_close(search);
}

}  // namespace kavoni::native

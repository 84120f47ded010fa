#include "sprite/native_file_windows_paths.h"

#include <string_view>
#include <vector>

namespace kavoni::native {

namespace {

constexpr std::wstring_view kExtended = L"\\\\?\\";
constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevice = L"\\\\.\\";
constexpr std::wstring_view kNtObjects = L"\\??\\";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Already in a form that Windows passes on unparsed, which no normalising may change.
bool IsUnparsed(std::wstring_view path) {
  return path.starts_with(kExtended) || path.starts_with(kDevice) || path.starts_with(kNtObjects);
}

bool IsDriveAbsolute(std::wstring_view path) {
  const auto letter = path.empty() ? L'\0' : path[0];
  return path.size() >= 3 &&
         ((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')) &&
         path[1] == L':' && IsSeparator(path[2]);
}

bool IsUnc(std::wstring_view path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// The names between separators from `at` on.
std::vector<std::wstring> NamesFrom(std::wstring_view path, std::size_t at) {
  std::vector<std::wstring> names;
  while (at < path.size()) {
    std::size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    if (end > at) {
      names.emplace_back(path.substr(at, end - at));
    }
    at = end + 1;
  }
  return names;
}

// What Windows does to an absolute path before it reaches the file system, which the
// extended-length form skips: one backslash between names, "." and ".." worked out, and the
// trailing dots and spaces of the last name dropped.
std::wstring Normalised(std::wstring_view full) {
  std::wstring extended;
  std::vector<std::wstring> parts;
  if (IsDriveAbsolute(full)) {
    extended.append(kExtended).append(full.substr(0, 2)).append(L"\\");
    parts = NamesFrom(full, 3);
  } else {
    // \\server\share\...: the server and the share are the root, which ".." does not leave.
    parts = NamesFrom(full, 2);
    if (parts.size() < 2) {
      Fail("not a path to a file", ERROR_BAD_PATHNAME);
    }
    extended.append(kExtendedUnc).append(parts[0]).append(L"\\").append(parts[1]).append(L"\\");
    parts.erase(parts.begin(), parts.begin() + 2);
  }
  std::vector<std::wstring> names;
  for (std::wstring& name : parts) {
    if (name == L"..") {
      if (!names.empty()) {
        names.pop_back();
      }
    } else if (name != L".") {
      names.push_back(std::move(name));
    }
  }
  if (!names.empty() && !IsSeparator(full.back())) {
    std::wstring& last = names.back();
    last.erase(last.find_last_not_of(L". ") + 1);
    if (last.empty()) {
      names.pop_back();
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    extended.append(i == 0 ? L"" : L"\\").append(names[i]);
  }
  return extended;
}

std::wstring FullPathName(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        Calls().get_full_path_name(path.c_str(), static_cast<DWORD>(full.size()), full.data());
    if (length == 0) {
      Fail("cannot make the path absolute", GetLastError());
    }
    // Too small: the length it needs, with its NUL.
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

// Whether `path` is a symbolic link (or another reparse point) itself; nothing there is none.
bool IsLink(const std::wstring& path) {
  const DWORD attributes = Calls().get_file_attributes(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return false;
    }
    Fail("cannot look at the file", error);
  }
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (IsUnparsed(path)) {
    return path;
  }
  // GetFullPathNameW is documented to take no more than MAX_PATH without the extended form,
  // which a relative path cannot take; a long absolute path is normalised here instead. Below
  // that, Windows' own call keeps its every rule, device names (CON, NUL) included.
  const bool absolute = IsDriveAbsolute(path) || IsUnc(path);
  const std::wstring full = path.size() < MAX_PATH || !absolute ? FullPathName(path) : path;
  if (IsUnparsed(full)) {
    return full;
  }
  if (!IsDriveAbsolute(full) && !IsUnc(full)) {
    Fail("not a path to a file", ERROR_BAD_PATHNAME);
  }
  return Normalised(full);
}

std::wstring FinalPath(const std::wstring& path) {
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is the file at the end of any
  // links, whose name the system then gives. Every existing file is asked, since not every
  // kind of link says that it is one (Wine shows a Unix link as the file it leads to).
  const Handle file(Calls().create_file(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!file) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      Fail("cannot open the file", error);
    }
    // A link to nothing, whose target Windows does not name: writing a file in its place
    // would lose the link.
    if (IsLink(path)) {
      Fail("cannot follow the link", error);
    }
    return path;
  }
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = Calls().get_final_path_name(file.get(), final_path.data(),
                                                     static_cast<DWORD>(final_path.size()));
    if (length == 0) {
      // Devices and some file systems have no such name; only a link needs one.
      const DWORD error = GetLastError();
      if (IsLink(path)) {
        Fail("cannot follow the link", error);
      }
      return path;
    }
    if (length < final_path.size()) {
      final_path.resize(length);
      return final_path;
    }
    final_path.resize(length);
  }
}

SplitPath Split(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L'\\');
  if (last == std::wstring::npos) {
    return {L"", path};
  }
  return {path.substr(0, last + 1), path.substr(last + 1)};
}

}  // namespace kavoni::native

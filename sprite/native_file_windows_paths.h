#pragma once

#include <string>

#include "sprite/native_file_windows_calls.h"

// The paths that a save on Windows hands to the file calls: every one in the extended-length
// form ("\\?\C:\..." or "\\?\UNC\server\share\..."), which no MAX_PATH limit applies to, so
// that every path the save dialog returns saves, however long, whatever the manifest and the
// system's long-path setting say.
namespace kavoni::native {

// `path` made absolute and normalised as Windows normalises a path (separators, "." and "..",
// the trailing dots and spaces of the last name), in the extended-length form. A path already
// in that form, or in the device form ("\\.\NUL"), stays as it is. A relative path is taken
// from the current folder, and so, as Windows documents, must fit MAX_PATH.
std::wstring ExtendedLengthPath(const std::wstring& path);

// Where a save to `path` lands: the file at the end of any chain of symbolic links, which is
// the file to replace, so that the links themselves stay. A path with nothing there stays.
std::wstring FinalPath(const std::wstring& path);

// The folder that holds `path`, with its trailing backslash ("\\?\C:\" for a file in the root),
// and the name in it.
struct SplitPath {
  std::wstring folder;
  std::wstring name;
};
SplitPath Split(const std::wstring& path);

}  // namespace kavoni::native

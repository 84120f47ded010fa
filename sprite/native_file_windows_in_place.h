#pragma once

#include <string_view>

#include "sprite/native_file_windows_calls.h"

namespace kavoni::native {

// Writes `bytes` through `file` from its start: 0, or the error of the first write that failed.
DWORD WriteFromStart(HANDLE file, std::string_view bytes);

// Writes `content` over the file open as `file` (for reading and writing) and closes it. Nothing
// of the old content is given up before the room for the new is taken: a file that grows is
// first made long enough, and a full disk then fails before a byte changes. Where a write, the
// shortening or the flush fails all the same, the old bytes are written back, so the file is as
// it was; only where that too fails is it left damaged, and the failure says so.
void WriteInPlace(Handle& file, std::string_view content);

}  // namespace kavoni::native

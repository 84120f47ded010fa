#pragma once

#include <string>

namespace kavoni::native {

// A save that was killed leaves its temporary file behind; the next save in `folder` (with its
// trailing backslash) clears this user's own that are long abandoned, never another user's, and
// never one that another save holds open or has written lately. Nothing here fails a save.
void ClearAbandonedTemporaries(const std::wstring& folder) noexcept;

}  // namespace kavoni::native

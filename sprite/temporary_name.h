#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>

// The names of the temporary files that saves write beside the files they replace. Both
// platforms' savers make and recognise them here, so a leftover of either kind is known by both.
namespace kavoni {

// Far longer than any save takes, so a temporary file this old belongs to no save under way.
inline constexpr std::chrono::minutes kAbandonedAfter{10};

// The shortest name limit that a POSIX file system may have (_POSIX_NAME_MAX).
inline constexpr std::size_t kShortestNameLimit = 14;

// A name of its own for every save of the file named `target_name`, starting with a full stop
// (hidden on POSIX) and no longer than `max_length` (bytes on POSIX, UTF-16 units on Windows),
// the longest name that the target's folder takes; a limit below kShortestNameLimit is taken
// as that. The name holds the target's name where there is room for it, a short stand-in
// derived from it where there is not, and only random digits in a folder whose limit is below
// 50.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target_name,
                                       std::size_t max_length);

// Whether a name in a folder is exactly of a form that TemporaryNameFor gives, or that an older
// version gave: ".NAME.kavoni-save.tmp" for a NAME ending in ".txt", and
// ".kavoni-save-" with 16 hexadecimal digits and ".tmp" as its stand-in for long names.
bool IsTemporaryName(const std::filesystem::path& name);

}  // namespace kavoni

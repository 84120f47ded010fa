#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>

// The names of the temporary files that saves write beside the files they replace. Both
// platforms' savers make and recognise them here, so a leftover of either kind is known by both.
namespace kavoni {

// Far longer than any save takes, so a temporary file this old belongs to no save under way.
inline constexpr std::chrono::minutes kAbandonedAfter{10};

// A name of its own for every save of the file named `target_name`, starting with a full stop
// (hidden on POSIX) and no longer than `max_length` (bytes on POSIX, UTF-16 units on Windows),
// the longest name that the target's folder takes. A target whose name leaves no room for the
// suffix gets a short stand-in derived from its name.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target_name,
                                       std::size_t max_length);

// Whether a name in a folder is one that TemporaryNameFor gave, or an older version's.
bool IsTemporaryName(const std::filesystem::path& name);

}  // namespace kavoni

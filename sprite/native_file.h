#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

// The operating system's own file calls, for what the standard library cannot do: syncing a
// file to the disk, refusing a FIFO without blocking on it, and replacing a file in one step.
// This header is the only door to them; native_file_posix.cpp and native_file_windows.cpp are
// the two sides behind it. Every failure not named in a signature throws SpriteFileError.
namespace kavoni::native {

// An open file, closed when it goes out of scope.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  explicit operator bool() const { return handle_ != kNoHandle; }

  // Writes every byte, however many calls the system needs for it.
  void WriteAll(std::string_view bytes);
  // Cuts the file to nothing, with the write position at its start.
  void Truncate();
  // Returns once the file's content is on the disk, not only in the system's cache.
  void Sync();
  // Closes and reports a failing close, which some file systems use to report a lost write.
  void Close();

  // How many names (hard links) the file has.
  unsigned LinkCount() const;

  // Gives `other` everything that says who may use this file: on POSIX its owner, group,
  // permission bits, access list and the extended attributes a user may set; on Windows its
  // access list and owner, and the flags a user sets. Owner and group go only as far as the
  // process may give them away. Returns false when the access could not be copied exactly,
  // since a copy with other rights could let in people the file kept out.
  bool LendAttributesTo(File& other) const;

#ifdef _WIN32
  using Handle = void*;
  static inline const Handle kNoHandle = reinterpret_cast<Handle>(-1);
#else
  using Handle = int;
  static constexpr Handle kNoHandle = -1;
#endif

  explicit File(Handle handle) : handle_(handle) {}

 private:
  friend void PrepareToReplace(File& to_file);

  Handle handle_ = kNoHandle;
};

// Opens an existing regular file for writing without changing it, which proves the user may
// write it. Returns nullopt when nothing is at `path`. Anything there that is not a regular
// file (a folder, a FIFO, a socket, a device) is refused at once, without waiting on it.
std::optional<File> OpenExistingForWriting(const std::filesystem::path& path);

// Where a save to `path` lands: the file at the end of any chain of symbolic links, which is
// the file to replace, so that the links themselves stay. A link that points at nothing on
// POSIX leads to the name it points at, which the save then creates.
std::filesystem::path FinalPath(const std::filesystem::path& path);

// Creates `path`, which must not exist yet, for writing, with the mode and access list that a
// new file gets there. Returns nullopt when the folder does not let this user create files.
std::optional<File> CreateNew(const std::filesystem::path& path);

// Readies `to_file`, the open file that a save will replace, for the rename at its end. Windows
// cannot rename over an open file, so there it is closed now if this user may delete it, and
// kept open if the user may only write it. POSIX keeps it open either way.
void PrepareToReplace(File& to_file);

// Puts `from` in the place of `to` in one step, so that `to` is always either the old file or
// the new one. Returns false, with `to_file` (the prepared file at `to`, if there is one) still
// open, when this user may write `to` but not replace it.
bool Replace(const std::filesystem::path& from, const std::filesystem::path& to, File& to_file);

// Whether `path` is a plain file of this user's that nothing has written for `age`: a save's
// temporary file that it could not remove, and not one that another save is writing now.
bool IsAbandoned(const std::filesystem::path& path, std::chrono::seconds age) noexcept;

// Removes a file if it is there; a failure is left for the next save to clean up.
void RemoveIfPresent(const std::filesystem::path& path) noexcept;

// Makes the folder's own record of a rename durable, where the system needs that asked for.
void SyncFolder(const std::filesystem::path& folder) noexcept;

}  // namespace kavoni::native

#pragma once

// Everything that marks a POSIX file besides its bytes, and how a replacement is given all of
// it. The whole list of what a replaced file keeps is here:
//   - its owner and group;
//   - its permission bits, the sticky bit and the set-user-ID and set-group-ID bits;
//   - every extended attribute that this user can see: the POSIX access list, user.*
//     attributes, security labels, an NFSv4 access list, trusted.* for root;
//   - its file capabilities (security.capability);
//   - its inode flags, as chattr sets them: A, c, d, j, m, s, S, t, u and C.
// A file that has no access list does not gain the one that the folder gives new files.
#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kavoni::native::posix {

// Whether a replacement was given everything, read back from the replacement itself. Where it
// was not (the kernel keeps that to a privileged user, or the file system cannot hold it), the
// old file must be written in place instead. A failure of any other kind (a full disk, an I/O
// error, no memory) is thrown: it says nothing about the file, so it fails the save.
enum class Carried { kAll, kNotAll };

class Marks {
 public:
  // Reads the marks of the open file `file`.
  static Marks Of(int file);

  const struct stat& info() const { return info_; }

  // Gives the new, still empty file `to` (created for its maker alone, mode 0600) the owner and
  // group first, then the extended attributes, the inode flags and the permission bits: no
  // step lets in anyone whom the old file kept out.
  Carried GiveBeforeContent(int to) const;

  // Gives `to` what the kernel takes away from a file when it is written or given to another
  // owner: the set-ID bits and the capabilities. Called after the last write.
  Carried GiveAfterContent(int to) const;

  // Puts back on `file`, written in place, what writing it took away (set-ID bits and
  // capabilities), where this user may; where not, the file is as any write leaves it.
  void RestoreAfterWrite(int file) const;

 private:
  struct stat info_ {};
  // Every extended attribute but the capabilities, name and value.
  std::vector<std::pair<std::string, std::string>> attributes_;
  std::optional<std::string> capabilities_;
  // The inode flags that are kept; none where the file system has no flags.
  std::optional<int> flags_;
};

}  // namespace kavoni::native::posix

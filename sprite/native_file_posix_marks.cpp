#include "sprite/native_file_posix_marks.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "sprite/native_file_posix_io.h"

namespace kavoni::native::posix {

namespace {

constexpr char kAccessList[] = "system.posix_acl_access";
constexpr char kCapabilities[] = "security.capability";

// The flags that say how a file is to be kept, not what it is: chattr's A, c, d, j, m, s, S,
// t, u and C. Left out: a and i (such a file cannot be opened for writing at all), and the
// flags that the file system sets itself (e, E, I, N, V and the like).
constexpr int kKeptFlags = FS_NOATIME_FL | FS_COMPR_FL | FS_NODUMP_FL | FS_JOURNAL_DATA_FL |
                           FS_NOCOMP_FL | FS_SECRM_FL | FS_SYNC_FL | FS_NOTAIL_FL | FS_UNRM_FL |
                           FS_NOCOW_FL;

// The answers by which the kernel or the file system refuses a mark for what it is: a
// privilege the user lacks, or something that this file system cannot hold.
bool IsRefusal(int error) {
  return error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP ||
         error == EINVAL || error == E2BIG || error == ERANGE || error == ENOTTY;
}

// Reads one of an open file's lists or values, which may grow between asking for its size and
// reading it. False, with errno set, on failure.
template <typename Read>
bool ReadGrowing(std::string& into, Read read) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = Retried([&] { return read(nullptr, 0); });
    if (size < 0) {
      return false;
    }
    into.resize(static_cast<std::size_t>(size));
    if (size == 0) {
      return true;
    }
    const ssize_t got = Retried([&] { return read(into.data(), into.size()); });
    if (got >= 0) {
      into.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) {
      return false;
    }
  }
  errno = ERANGE;
  return false;
}

// The names of `fd`'s extended attributes; none on a file system that has none.
std::vector<std::string> AttributeNames(int fd) {
  std::string list;
  if (!ReadGrowing(list,
                   [fd](char* names, std::size_t size) { return ::flistxattr(fd, names, size); })) {
    if (errno == ENOTSUP) {
      return {};
    }
    Fail("cannot list the file's attributes", errno);
  }
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    names.emplace_back(list.c_str() + start);
    start += names.back().size() + 1;
  }
  return names;
}

// One attribute's value; nothing when it is not there (or was removed meanwhile).
std::optional<std::string> AttributeOf(int fd, const std::string& name) {
  std::string value;
  if (!ReadGrowing(value, [fd, &name](char* bytes, std::size_t size) {
        return ::fgetxattr(fd, name.c_str(), bytes, size);
      })) {
    if (errno == ENODATA) {
      return std::nullopt;
    }
    Fail("cannot read the file's attribute", errno);
  }
  return value;
}

// Sets one attribute; kNotAll where the kernel or the file system refuses it.
Carried SetAttribute(int fd, const std::string& name, const std::string& value) {
  if (Retried([&] { return ::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0); }) == 0) {
    return Carried::kAll;
  }
  if (IsRefusal(errno)) {
    return Carried::kNotAll;
  }
  Fail("cannot set the file's attribute", errno);
}

// The kept flags of `fd`; nothing where its file system keeps no flags.
std::optional<int> FlagsOf(int fd) {
  int flags = 0;
  if (Retried([&] { return ::ioctl(fd, FS_IOC_GETFLAGS, &flags); }) != 0) {
    if (errno == ENOTTY || errno == ENOTSUP || errno == EINVAL || errno == ENOSYS) {
      return std::nullopt;
    }
    Fail("cannot read the file's flags", errno);
  }
  return flags;
}

Carried GiveFlags(int to, int wanted) {
  const std::optional<int> current = FlagsOf(to);
  if (!current) {
    return (wanted & kKeptFlags) == 0 ? Carried::kAll : Carried::kNotAll;
  }
  // The new file may have taken flags from its folder that the old one did not have.
  int flags = (*current & ~kKeptFlags) | (wanted & kKeptFlags);
  if (flags == *current) {
    return Carried::kAll;
  }
  if (Retried([&] { return ::ioctl(to, FS_IOC_SETFLAGS, &flags); }) != 0) {
    if (IsRefusal(errno)) {
      return Carried::kNotAll;
    }
    Fail("cannot set the file's flags", errno);
  }
  const std::optional<int> given = FlagsOf(to);
  return given && (*given & kKeptFlags) == (wanted & kKeptFlags) ? Carried::kAll : Carried::kNotAll;
}

// Sets the permission bits; kNotAll where the kernel refuses.
Carried GiveMode(int to, mode_t mode) {
  if (Retried([&] { return ::fchmod(to, mode); }) == 0) {
    return Carried::kAll;
  }
  if (errno == EPERM) {
    return Carried::kNotAll;
  }
  Fail("cannot set the file's permissions", errno);
}

}  // namespace

Marks Marks::Of(int file) {
  Marks marks;
  marks.info_ = StatOf(file);
  for (std::string& name : AttributeNames(file)) {
    std::optional<std::string> value = AttributeOf(file, name);
    if (!value) {
      continue;  // removed meanwhile
    }
    if (name == kCapabilities) {
      marks.capabilities_ = std::move(value);
    } else {
      marks.attributes_.emplace_back(std::move(name), std::move(*value));
    }
  }
  const std::optional<int> flags = FlagsOf(file);
  if (flags) {
    marks.flags_ = *flags & kKeptFlags;
  }
  return marks;
}

Carried Marks::GiveBeforeContent(int to) const {
  // The owner and group go first, while the file is still its maker's alone: bits set before
  // them would let in the maker's group, whoever that is.
  const struct stat made = StatOf(to);
  if ((made.st_uid != info_.st_uid || made.st_gid != info_.st_gid) &&
      Retried([&] { return ::fchown(to, info_.st_uid, info_.st_gid); }) != 0) {
    // Only a privileged user may give a file away, and anyone else only to a group of their
    // own.
    if (errno == EPERM || errno == EINVAL) {
      return Carried::kNotAll;
    }
    Fail("cannot give the file its owner", errno);
  }
  const std::vector<std::string> names = AttributeNames(to);
  const auto has = [&names](const std::string& name) {
    for (const std::string& present : names) {
      if (present == name) {
        return true;
      }
    }
    return false;
  };
  bool copied_access_list = false;
  for (const auto& [name, value] : attributes_) {
    copied_access_list = copied_access_list || name == kAccessList;
    // A security label that the folder already gave the new file needs no privilege to keep.
    if (has(name) && AttributeOf(to, name) == value) {
      continue;
    }
    if (SetAttribute(to, name, value) == Carried::kNotAll) {
      return Carried::kNotAll;
    }
  }
  // A folder's default list, given to every new file, must not widen a file that had none.
  if (!copied_access_list && has(kAccessList) &&
      Retried([&] { return ::fremovexattr(to, kAccessList); }) != 0 && errno != ENODATA) {
    if (IsRefusal(errno)) {
      return Carried::kNotAll;
    }
    Fail("cannot remove the folder's access list", errno);
  }
  if (flags_ && GiveFlags(to, *flags_) == Carried::kNotAll) {
    return Carried::kNotAll;
  }
  // The bits go last: with an access list in place they set its mask, which is the group bits
  // of the file copied, so the list and the bits agree as they did on it. The set-ID bits wait
  // for GiveAfterContent, since writing the file would clear them.
  if (GiveMode(to, info_.st_mode & 01777) == Carried::kNotAll) {
    return Carried::kNotAll;
  }
  const struct stat given = StatOf(to);
  return given.st_uid == info_.st_uid && given.st_gid == info_.st_gid &&
                 (given.st_mode & 07777) == (info_.st_mode & 01777)
             ? Carried::kAll
             : Carried::kNotAll;
}

Carried Marks::GiveAfterContent(int to) const {
  if ((info_.st_mode & 06000) != 0) {
    // The kernel quietly drops set-group-ID for a group that the user is not in: read back.
    if (GiveMode(to, info_.st_mode & 07777) == Carried::kNotAll ||
        (StatOf(to).st_mode & 07777) != (info_.st_mode & 07777)) {
      return Carried::kNotAll;
    }
  }
  if (capabilities_) {
    if (SetAttribute(to, kCapabilities, *capabilities_) == Carried::kNotAll ||
        AttributeOf(to, kCapabilities) != capabilities_) {
      return Carried::kNotAll;
    }
  }
  return Carried::kAll;
}

void Marks::RestoreAfterWrite(int file) const {
  if ((info_.st_mode & 06000) != 0 && (StatOf(file).st_mode & 07777) != (info_.st_mode & 07777)) {
    GiveMode(file, info_.st_mode & 07777);
  }
  if (capabilities_) {
    SetAttribute(file, kCapabilities, *capabilities_);
  }
}

}  // namespace kavoni::native::posix

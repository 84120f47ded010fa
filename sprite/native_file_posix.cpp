// Saving on POSIX: which file a save replaces, which way it replaces it, and doing that. What
// the new file keeps of the old one is native_file_posix_marks.cpp's.
//
// Every name is looked up by hand, one folder at a time, and everything after that is done
// relative to the folder that holds the target, opened once: a link or folder swapped in by
// someone else while the save runs cannot send it anywhere else.
//
// The target is replaced by renaming a temporary file over it, which leaves no moment where it
// is broken. The way is chosen from what the file is, before anything is written: a file with
// several hard links, a file that is a mount point of its own (a bind mount), a file in a
// folder where this user may not create files, or not replace another user's (a sticky
// folder), or where nothing may be removed (an append-only folder), and a file whose marks the
// new file could not be given, is written in place instead, through the descriptor opened and
// checked when the save began. Any other failure fails the save and leaves the old file as it
// was: it never changes the way of saving.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sprite/native_file.h"
#include "sprite/native_file_posix_io.h"
#include "sprite/native_file_posix_marks.h"
#include "sprite/temporary_name.h"

namespace kavoni::native {

namespace {

namespace fs = std::filesystem;
using posix::Carried;
using posix::Descriptor;
using posix::Fail;
using posix::Marks;
using posix::Retried;
using posix::StatOf;

#ifdef O_PATH
// Enough to look things up in a folder, which needs no read permission on it.
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

// As many links as the Linux kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
// Where a folder does not say, the longest name that the common file systems take.
constexpr long kUsualNameMax = 255;
// A new temporary name is tried when one is taken, and a save begun as a new file is made
// again over the file that appeared meanwhile; each of those this often at most.
constexpr int kAttempts = 8;

Descriptor OpenFolderAt(int at, const char* name) {
  const int fd = Retried(
      [&] { return ::openat(at, name, kFolderAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
  if (fd < 0) {
    Fail("cannot open the folder", errno);
  }
  return Descriptor(fd);
}

// The kernel's rule for links in shared folders (fs.protected_symlinks), kept whatever the
// system's own setting: in a sticky folder that others may write, anyone could have put the
// link there to aim this user's save at a file of their choosing, so only a link of this user
// or of the folder's owner is followed.
bool MayFollow(const struct stat& link, const struct stat& folder) {
  const bool shared =
      (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

std::string ReadLinkAt(int folder, const char* name) {
  // The kernel keeps a link's target within PATH_MAX bytes.
  char target[PATH_MAX];
  const ssize_t size = Retried([&] { return ::readlinkat(folder, name, target, sizeof target); });
  if (size < 0) {
    Fail("cannot read the link", errno);
  }
  if (static_cast<std::size_t>(size) == sizeof target) {
    Fail("cannot read the link", ENAMETOOLONG);
  }
  return std::string(target, static_cast<std::size_t>(size));
}

// Where a save to a path lands: the folder that holds the file at the end of every link, and
// its name there, which need not exist yet.
struct Place {
  Descriptor folder;
  std::string name;
};

// Walks `path` one name at a time, following links by MayFollow's rule, as the kernel would
// walk it but with that rule always on.
Place Resolve(const fs::path& path) {
  // The names still to walk, the next one last.
  std::vector<std::string> pending;
  const auto push = [&pending](const fs::path& names) {
    std::vector<std::string> in_order;
    for (const fs::path& name : names.relative_path()) {
      in_order.push_back(name.string());
    }
    pending.insert(pending.end(), in_order.rbegin(), in_order.rend());
  };
  Descriptor folder = OpenFolderAt(AT_FDCWD, path.is_absolute() ? "/" : ".");
  push(path);
  int hops = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (name.empty() || name == ".") {
      continue;
    }
    if (name == "..") {
      folder = OpenFolderAt(folder.get(), "..");
      continue;
    }
    struct stat info {};
    if (Retried([&] {
          return ::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW);
        }) != 0) {
      if (errno == ENOENT && pending.empty()) {
        return {std::move(folder), name};
      }
      Fail("cannot find the path", errno);
    }
    if (S_ISLNK(info.st_mode)) {
      if (!MayFollow(info, StatOf(folder.get()))) {
        Fail("will not follow another user's link in a shared folder", EACCES);
      }
      if (++hops > kMaxLinkHops) {
        Fail("too many levels of links", ELOOP);
      }
      const fs::path target = ReadLinkAt(folder.get(), name.c_str());
      if (target.is_absolute()) {
        folder = OpenFolderAt(AT_FDCWD, "/");
      }
      push(target);
      continue;
    }
    if (pending.empty()) {
      return {std::move(folder), name};
    }
    folder = OpenFolderAt(folder.get(), name.c_str());
  }
  Fail("not a file name", EISDIR);
}

// The existing file that a save replaces, open for writing.
struct Target {
  Descriptor file;
  // Whether it could be opened for reading too, so that a write in place can be undone.
  bool readable = false;
};

int OpenRegular(int folder, const std::string& name, int access) {
  // O_NONBLOCK keeps the open from waiting should a FIFO take the file's place meanwhile, and
  // O_NOFOLLOW from following a link that took it.
  return Retried([&] {
    return ::openat(folder, name.c_str(), access | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  });
}

// Opens the existing regular file `name` in `folder` for writing without changing it, which
// proves the user may write it. Nothing there: an empty descriptor.
Target OpenExisting(int folder, const std::string& name) {
  struct stat info {};
  if (Retried([&] { return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW); }) != 0) {
    if (errno == ENOENT) {
      return {};
    }
    Fail("cannot look at the file", errno);
  }
  // Opening a FIFO for writing waits for a reader, and a device takes anything; neither can
  // hold a sprite, so they are turned away before any open.
  if (!S_ISREG(info.st_mode)) {
    Fail("not a regular file", EINVAL);
  }
  Target target;
  int fd = OpenRegular(folder, name, O_RDWR);
  target.readable = fd >= 0;
  if (fd < 0 && errno == EACCES) {
    fd = OpenRegular(folder, name, O_WRONLY);
  }
  if (fd < 0) {
    if (errno == ENOENT) {
      return {};
    }
    Fail("cannot open the file for writing", errno == ELOOP ? EAGAIN : errno);
  }
  target.file = Descriptor(fd);
  if (!S_ISREG(StatOf(fd).st_mode)) {
    Fail("not a regular file", EINVAL);
  }
  // Only a FIFO needed it; the file may be written in place through this descriptor, where a
  // short write must not be taken for a finished one.
  const int flags = Retried([fd] { return ::fcntl(fd, F_GETFL); });
  if (flags < 0 || Retried([&] { return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK); }) != 0) {
    Fail("cannot set the file up for writing", errno);
  }
  return target;
}

// What the save needs to know of a folder or a file beyond fstat: the mount that it is on and
// its append-only flag.
struct Whereabouts {
  struct statx info {};
  bool knows_mount = false;
};

Whereabouts WhereaboutsOf(int fd) {
  Whereabouts where;
  unsigned mask = STATX_TYPE | STATX_MODE | STATX_UID;
#ifdef STATX_MNT_ID
  mask |= STATX_MNT_ID;
#endif
  if (Retried([&] {
        return ::statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, mask, &where.info);
      }) != 0) {
    Fail("cannot look at the folder", errno);
  }
#ifdef STATX_MNT_ID
  where.knows_mount = (where.info.stx_mask & STATX_MNT_ID) != 0;
#endif
  return where;
}

bool IsAppendOnly(const Whereabouts& where) {
  return (where.info.stx_attributes_mask & STATX_ATTR_APPEND) != 0 &&
         (where.info.stx_attributes & STATX_ATTR_APPEND) != 0;
}

// Whether `file` is mounted over its name in `folder`, as containers and sandboxes bind single
// files: nothing can be renamed over a mount point (EBUSY). Kernels before 5.8 do not give mount
// ids; then a file bound from another file system still shows by its device.
// Where the ids are known, they alone decide: overlay file systems give a file the device of
// the layer it comes from, which need not be its folder's.
bool IsMountPoint(const Whereabouts& file, const Whereabouts& folder) {
#ifdef STATX_MNT_ID
  if (file.knows_mount && folder.knows_mount) {
    return file.info.stx_mnt_id != folder.info.stx_mnt_id;
  }
#endif
  return file.info.stx_dev_major != folder.info.stx_dev_major ||
         file.info.stx_dev_minor != folder.info.stx_dev_minor;
}

// Whether this user may create and remove names in the folder, as a rename needs.
bool TakesNewFiles(int folder) {
  if (Retried([&] { return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS); }) == 0) {
    return true;
  }
  if (errno == EACCES || errno == EPERM || errno == EROFS) {
    return false;
  }
  Fail("cannot tell whether the folder takes new files", errno);
}

// Whether the file itself has to be written, for what it and its folder are; decided before
// anything is written.
bool MustWriteInPlace(int folder, const Target& target, const Marks& marks) {
  // Every other name of the file must see the new sprite too, which a rename cannot do.
  if (marks.info().st_nlink > 1) {
    return true;
  }
  const Whereabouts where = WhereaboutsOf(folder);
  if (IsMountPoint(WhereaboutsOf(target.file.get()), where) || IsAppendOnly(where)) {
    return true;
  }
  // A sticky folder lets only a file's owner, the folder's owner or a privileged user replace
  // the file.
  const uid_t self = ::geteuid();
  if ((where.info.stx_mode & S_ISVTX) != 0 && marks.info().st_uid != self &&
      where.info.stx_uid != self && self != 0) {
    return true;
  }
  return !TakesNewFiles(folder);
}

std::size_t NameMax(int folder) {
  const long limit = ::fpathconf(folder, _PC_NAME_MAX);
  return static_cast<std::size_t>(limit > 0 ? limit : kUsualNameMax);
}

// The file that a save writes before it takes the target's place: named beside the target, or
// without a name at all where the folder may not lose one (append-only). Removed when dropped,
// unless it took the target's place.
class Temporary {
 public:
  Temporary() = default;
  ~Temporary() { Drop(); }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  Temporary& operator=(Temporary&& other) noexcept {
    Drop();
    folder_ = other.folder_;
    name_ = std::exchange(other.name_, {});
    file_ = std::move(other.file_);
    return *this;
  }
  Temporary(Temporary&& other) noexcept { *this = std::move(other); }

  // Creates a new file beside `target_name` in `folder` with `mode` (less the umask).
  // O_NOFOLLOW with O_EXCL: a link planted at the name is never followed.
  static Temporary Named(int folder, const std::string& target_name, mode_t mode) {
    const std::size_t name_max = NameMax(folder);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      const fs::path name = TemporaryNameFor(target_name, name_max);
      const int fd = Retried([&] {
        return ::openat(folder, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
      });
      if (fd >= 0) {
        Temporary made;
        made.folder_ = folder;
        made.name_ = name.native();
        made.file_ = Descriptor(fd);
        return made;
      }
      if (errno != EEXIST) {
        Fail("cannot create the file", errno);
      }
    }
    Fail("cannot create the file", EEXIST);
  }

  // Creates a file with no name in `folder`, which gets one only when it is whole, so that
  // nobody can open it before then. Nothing where the file system has no such files (NFS,
  // FUSE, kernels before 3.11) or /proc, through which it is linked in, is not there.
  static std::optional<Temporary> Unnamed(int folder, mode_t mode) {
    if (::access("/proc/self/fd", X_OK) != 0) {
      return std::nullopt;
    }
    const int fd =
        Retried([&] { return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode); });
    if (fd < 0) {
      if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        return std::nullopt;
      }
      Fail("cannot create the file", errno);
    }
    Temporary made;
    made.folder_ = folder;
    made.file_ = Descriptor(fd);
    return made;
  }

  explicit operator bool() const { return static_cast<bool>(file_) || !name_.empty(); }
  int fd() const { return file_.get(); }

  // Puts the file at `name` in its folder, over the file there when `over` is set, and
  // otherwise only where nothing is there yet: false when something is.
  bool Publish(const std::string& name, bool over) {
    int result = 0;
    if (!name_.empty()) {
      // Some file systems report a lost write only when the file is closed.
      file_.Close();
    }
    bool linked_beside = false;
    if (name_.empty()) {
      // A file without a name is linked in through its descriptor; the link, like a rename
      // that replaces nothing, fails with EEXIST where a file appeared meanwhile.
      const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
      result = Retried([&] {
        return ::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW);
      });
    } else {
      result = Retried([&] {
        return ::renameat2(folder_, name_.c_str(), folder_, name.c_str(),
                           over ? 0 : RENAME_NOREPLACE);
      });
      // File systems that take no flags for a rename (NFS, many FUSE ones) still refuse a
      // second link to a name that is taken; only those without links get a plain rename.
      if (result != 0 && errno == EINVAL && !over) {
        result =
            Retried([&] { return ::linkat(folder_, name_.c_str(), folder_, name.c_str(), 0); });
        linked_beside = result == 0;
        if (result != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK)) {
          result =
              Retried([&] { return ::renameat(folder_, name_.c_str(), folder_, name.c_str()); });
        }
      }
    }
    if (result != 0) {
      if (errno == EEXIST && !over) {
        return false;
      }
      Fail("cannot replace the file", errno);
    }
    if (linked_beside) {
      // The new file has both names now; the temporary one goes as a leftover would.
      static_cast<void>(Retried([&] { return ::unlinkat(folder_, name_.c_str(), 0); }));
    }
    name_.clear();
    if (file_) {
      // The unnamed file's descriptor, where some file systems report a lost write.
      file_.Close();
    }
    return true;
  }

  void Drop() noexcept {
    file_ = Descriptor();
    if (!name_.empty()) {
      static_cast<void>(Retried([&] { return ::unlinkat(folder_, name_.c_str(), 0); }));
      name_.clear();
    }
  }

 private:
  int folder_ = -1;
  std::string name_;
  Descriptor file_;
};

// Syncs the folder's own record of a rename, without which a crash soon after it may bring
// back the old file. Opened before the rename, so that only the sync itself can fail after it.
// A folder that this user may not read (a drop box) cannot be opened for it at all: there the
// rename is left to the file system's own schedule.
class FolderSync {
 public:
  explicit FolderSync(int folder)
      : folder_(
            Retried([&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); })) {
    if (!folder_ && errno != EACCES) {
      Fail("cannot open the folder", errno);
    }
  }
  void Sync() const {
    if (folder_) {
      posix::Sync(folder_.get());
    }
  }

 private:
  Descriptor folder_;
};

// A save that was killed leaves its temporary file behind; the next save in the folder clears
// the user's own regular files of exactly the names that saves give that are long abandoned,
// never another user's, and never one that another save is writing now.
void ClearAbandonedTemporaries(int folder) noexcept {
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) {
    return;
  }
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return;
  }
  const std::time_t now = std::time(nullptr);
  const auto age = std::chrono::seconds(kAbandonedAfter).count();
  while (const dirent* entry = ::readdir(entries)) {
    struct stat info {};
    if (IsTemporaryName(entry->d_name) &&
        ::fstatat(listing, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && now - info.st_mtime > age) {
      static_cast<void>(::unlinkat(listing, entry->d_name, 0));
    }
  }
  ::closedir(entries);
}

// Reserves the disk space for `size` bytes of the file without changing a byte of it, so that
// a full disk shows before any old content is given up. File systems that cannot reserve space
// go without.
void Reserve(int fd, std::size_t size) {
  if (size == 0 || Retried([&] {
                     return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
                   }) == 0) {
    return;
  }
  if (errno != EOPNOTSUPP && errno != ENOSYS) {
    Fail("cannot reserve space for the file", errno);
  }
}

void Truncate(int fd, std::size_t size) {
  if (Retried([&] { return ::ftruncate(fd, static_cast<off_t>(size)); }) != 0) {
    Fail("cannot set the file's length", errno);
  }
}

// Writes `content` over the target itself, and where that fails part-way, writes the old bytes
// back: a file that this user may read comes out of a failed save as it was.
void WriteInPlace(Target& target, const Marks& marks, std::string_view content) {
  const int fd = target.file.get();
  std::optional<std::string> old;
  if (target.readable) {
    old = posix::ReadAll(fd);
  }
  std::size_t written = 0;
  bool resized = false;
  try {
    // The reservation, as any write, takes set-ID bits and capabilities away.
    Reserve(fd, content.size());
    posix::WriteAllAt(fd, content, 0, written);
    // A file that cannot be read is shortened whatever its length was.
    if (!old || old->size() > content.size()) {
      resized = true;
      Truncate(fd, content.size());
    }
    marks.RestoreAfterWrite(fd);
    posix::Sync(fd);
  } catch (...) {
    // The first failure is the one to report; what cannot be put back is left as it is.
    if (old && (written > 0 || resized)) {
      try {
        Truncate(fd, old->size());
        std::size_t restored = 0;
        posix::WriteAllAt(fd, *old, 0, restored);
      } catch (...) {
      }
    }
    // A failure before a byte changed may still have cost the file its set-ID bits.
    try {
      marks.RestoreAfterWrite(fd);
      posix::Sync(fd);
    } catch (...) {
    }
    throw;
  }
  // Closed without a check: the sync has already said whether the bytes are on the disk.
  target.file = Descriptor();
}

// Keeps a signal ignored while it lives. A write past the file size limit (ulimit -f, systemd's
// LimitFSIZE=) raises SIGXFSZ, which by default kills the program; ignored, the write fails
// with EFBIG instead, and the save ends as any other failed one.
class IgnoredSignal {
 public:
  explicit IgnoredSignal(int signal) : signal_(signal) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    installed_ = ::sigaction(signal_, &ignore, &previous_) == 0;
  }
  ~IgnoredSignal() {
    if (installed_) {
      ::sigaction(signal_, &previous_, nullptr);
    }
  }
  IgnoredSignal(const IgnoredSignal&) = delete;
  IgnoredSignal& operator=(const IgnoredSignal&) = delete;

 private:
  int signal_;
  struct sigaction previous_ {};
  bool installed_ = false;
};

}  // namespace

struct Replacement::State {
  Place place;
  // The target as it was checked when the save began, if it was there: written in place
  // through this, never reopened by name.
  Target target;
  std::optional<Marks> marks;
  // The new content's file; none when the target is written in place.
  Temporary temporary;

  // Finds the target and chooses the way of saving, for what the target and its folder are.
  void Prepare() {
    temporary = Temporary();
    target = OpenExisting(place.folder.get(), place.name);
    const int folder = place.folder.get();
    if (!target.file) {
      marks.reset();
      // A new file gets the mode (0666 less the umask) and access list that any new file gets
      // there. Without a name until it is whole, nobody can open it meanwhile; where it must
      // have one, it is no wider while it is written than once it is saved. An append-only
      // folder cannot take a name away again, so there it has none or is not made.
      const bool append_only = IsAppendOnly(WhereaboutsOf(folder));
      if (std::optional<Temporary> unnamed = Temporary::Unnamed(folder, 0666)) {
        temporary = std::move(*unnamed);
      } else if (append_only) {
        Fail("cannot create a file without a name in this append-only folder", EOPNOTSUPP);
      } else {
        temporary = Temporary::Named(folder, place.name, 0666);
      }
      return;
    }
    marks = Marks::Of(target.file.get());
    if (MustWriteInPlace(folder, target, *marks)) {
      return;
    }
    // For its maker alone until it has the target's owner, group and bits: nobody else can
    // open it, and no descriptor opened meanwhile outlives the narrowing.
    temporary = Temporary::Named(folder, place.name, 0600);
    if (marks->GiveBeforeContent(temporary.fd()) == Carried::kNotAll) {
      temporary.Drop();
    }
  }

  // Writes the temporary file and puts it in the target's place. False when the save has to
  // be made another way: in place, for marks that the new file could not be given, or over a
  // file that appeared at a new file's name meanwhile.
  bool Publish(std::string_view content) {
    std::size_t written = 0;
    posix::WriteAllAt(temporary.fd(), content, 0, written);
    if (marks && marks->GiveAfterContent(temporary.fd()) == Carried::kNotAll) {
      temporary.Drop();
      return false;
    }
    posix::Sync(temporary.fd());
    const int folder = place.folder.get();
    const FolderSync folder_sync(folder);
    if (!temporary.Publish(place.name, static_cast<bool>(marks))) {
      // Made again as a save over that file, with its marks.
      Prepare();
      return false;
    }
    target = Target();
    folder_sync.Sync();
    ClearAbandonedTemporaries(folder);
    return true;
  }
};

Replacement::Replacement(const fs::path& path) : state_(std::make_unique<State>()) {
  state_->place = Resolve(path);
  state_->Prepare();
}

Replacement::~Replacement() = default;

void Replacement::Commit(std::string_view content) {
  const IgnoredSignal file_size_limit(SIGXFSZ);
  State& state = *state_;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!state.temporary) {
      WriteInPlace(state.target, *state.marks, content);
      return;
    }
    if (state.Publish(content)) {
      return;
    }
  }
  Fail("the file keeps changing", EAGAIN);
}

}  // namespace kavoni::native

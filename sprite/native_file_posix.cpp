// Saving on POSIX. Every name is looked up by hand, one folder at a time, and everything after
// that is done relative to the folder that holds the target, opened once: a link or folder
// swapped in by someone else while the save runs cannot send it anywhere else.
//
// The target is replaced by renaming a temporary file over it, which leaves no moment where it
// is broken. Where a rename would change who may use the file (its owner, group, mode, access
// list or any other extended attribute could not be given to the new file exactly), or could
// not reach all its names (hard links), or is not allowed (a folder where the user may not
// create files, or not replace another user's), the file is written in place instead, through
// the descriptor opened and checked when the save began.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sprite/file.h"
#include "sprite/native_file.h"
#include "sprite/temporary_name.h"

namespace kavoni::native {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* what, int error) {
  throw SpriteFileError(std::string(what) + ": " + std::strerror(error));
}

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

// An open descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Closes and reports a failing close, which some file systems use to report a lost write.
  void Close() {
    // POSIX leaves the descriptor closed whatever close() returns, so it is never retried.
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
      Fail("cannot close", errno);
    }
  }

 private:
  void Reset() {
    if (fd_ >= 0) {
      ::close(std::exchange(fd_, -1));
    }
  }

  int fd_ = -1;
};

struct stat StatOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    Fail("cannot read the file's attributes", errno);
  }
  return info;
}

Descriptor OpenFolderAt(int at, const char* name) {
  const int fd = ::openat(at, name, kFolderAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Fail("cannot open the folder", errno);
  }
  return Descriptor(fd);
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail("cannot write", errno);
    }
    // Nothing written and no error: trying again would loop for ever.
    if (written == 0) {
      Fail("cannot write", EIO);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void Sync(int fd) {
  if (::fsync(fd) != 0) {
    Fail("cannot sync", errno);
  }
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
  const ssize_t size = ::readlinkat(folder, name, target, sizeof target);
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
    if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
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

// Opens the existing regular file `name` in `folder` for writing without changing it, which
// proves the user may write it. Nothing there: an empty descriptor.
Descriptor OpenExistingForWriting(int folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
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
  // O_NONBLOCK keeps the open from waiting should a FIFO take the file's place meanwhile, and
  // O_NOFOLLOW from following a link that took it.
  const int fd =
      ::openat(folder, name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return {};
    }
    Fail("cannot open the file for writing", errno == ELOOP ? EAGAIN : errno);
  }
  Descriptor file(fd);
  if (!S_ISREG(StatOf(fd).st_mode)) {
    Fail("not a regular file", EINVAL);
  }
  // Only a FIFO needed it; the file may be written in place through this descriptor, where a
  // short write must not be taken for a finished one.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail("cannot set the file up for writing", errno);
  }
  return file;
}

// Creates `name` in `folder`, which must not be there yet, with the mode (0666 less the umask)
// and access list that any new file gets there. An empty descriptor when the folder does not
// let this user create files. O_NOFOLLOW with O_EXCL: a link planted at the name is never
// followed.
Descriptor CreateNew(int folder, const fs::path& name) {
  const int fd = ::openat(folder, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
      return {};
    }
    Fail("cannot create the file", errno);
  }
  return Descriptor(fd);
}

std::size_t NameMax(int folder) {
  const long limit = ::fpathconf(folder, _PC_NAME_MAX);
  return static_cast<std::size_t>(limit > 0 ? limit : kUsualNameMax);
}

constexpr char kAccessList[] = "system.posix_acl_access";

// Reads one of an open file's lists or values, which may grow between asking for its size and
// reading it.
template <typename Read>
bool ReadGrowing(std::string& into, Read read) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = read(nullptr, 0);
    if (size < 0) {
      return false;
    }
    into.resize(static_cast<std::size_t>(size));
    const ssize_t got = read(into.data(), into.size());
    if (got >= 0) {
      into.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) {
      return false;
    }
  }
  return false;
}

std::optional<std::string> AttributeOf(int fd, const std::string& name) {
  std::string value;
  if (!ReadGrowing(value, [fd, &name](char* bytes, std::size_t size) {
        return ::fgetxattr(fd, name.c_str(), bytes, size);
      })) {
    return std::nullopt;
  }
  return value;
}

// Gives `to` every extended attribute of `from` that this user can see: access lists, the
// user's own attributes, security labels and whatever else the file system keeps. And takes
// from `to` an access list that `from` lacks: a folder's default list, given to every new
// file, must not widen a file that had none. False when any of it could not be done, since the
// new file would then lack something that the old one had.
bool CopyExtendedAttributes(int from, int to) {
  std::string names;
  if (!ReadGrowing(
          names, [from](char* list, std::size_t size) { return ::flistxattr(from, list, size); })) {
    // A file system without extended attributes has none to lose.
    return errno == ENOTSUP;
  }
  bool copied_access_list = false;
  for (std::size_t start = 0; start < names.size();) {
    const std::string name(names.c_str() + start);
    start += name.size() + 1;
    const std::optional<std::string> value = AttributeOf(from, name);
    if (!value) {
      if (errno == ENODATA) {
        continue;  // removed meanwhile
      }
      return false;
    }
    copied_access_list = copied_access_list || name == kAccessList;
    // A security label that the folder already gave the new file needs no privilege to keep.
    if (AttributeOf(to, name) == value) {
      continue;
    }
    if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) {
      return false;
    }
  }
  return copied_access_list || ::fremovexattr(to, kAccessList) == 0 || errno == ENODATA ||
         errno == ENOTSUP;
}

// Gives `to` everything that says who may use `from`: owner, group, permission bits and
// extended attributes. True only when `to` has all of it exactly, as read back from `to`
// itself: a copy with another owner or group could let in people the file kept out, or lock
// out its owner.
bool LendAttributes(int from, int to) {
  const struct stat info = StatOf(from);
  // Only a privileged process may give a file away, and anyone else only a group of their
  // own; what was refused shows below. Ownership goes first, since a change of it can clear
  // set-id bits.
  if (::fchown(to, info.st_uid, info.st_gid) != 0) {
    // Refused: the owner and group read back below tell.
  }
  if (!CopyExtendedAttributes(from, to)) {
    return false;
  }
  // The bits go last: with an access list in place they set its mask, which is the group bits
  // of the file copied, so the list and the bits agree as they did on it.
  if (::fchmod(to, info.st_mode & 07777) != 0) {
    return false;
  }
  const struct stat lent = StatOf(to);
  return lent.st_uid == info.st_uid && lent.st_gid == info.st_gid &&
         (lent.st_mode & 07777) == (info.st_mode & 07777);
}

// A save that was killed leaves its temporary file behind; the next save in the folder clears
// the user's own that are long abandoned, never another user's, and never one that another
// save is writing now.
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

// Makes the folder's own record of a rename durable. Without it a crash soon after the rename
// may bring back the old file; it can never bring back a broken one, so a failure here is not
// worth reporting.
void SyncFolder(int folder) noexcept {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    static_cast<void>(::fsync(fd));
    ::close(fd);
  }
}

void WriteInPlace(Descriptor& file, std::string_view content) {
  if (::ftruncate(file.get(), 0) != 0 || ::lseek(file.get(), 0, SEEK_SET) != 0) {
    Fail("cannot empty the file", errno);
  }
  WriteAll(file.get(), content);
  Sync(file.get());
  file.Close();
}

}  // namespace

struct Replacement::State {
  Place place;
  // The target as it was checked when the save began, if it was there: written in place
  // through this, never reopened by name.
  Descriptor target;
  // The new content's file, and its name in the target's folder; empty when the target is
  // written in place.
  fs::path temporary;
  Descriptor temporary_file;

  void CreateTemporary() {
    temporary = TemporaryNameFor(place.name, NameMax(place.folder.get()));
    temporary_file = CreateNew(place.folder.get(), temporary);
    if (!temporary_file) {
      temporary.clear();
    }
  }

  void DropTemporary() noexcept {
    temporary_file = Descriptor();
    if (!temporary.empty()) {
      static_cast<void>(::unlinkat(place.folder.get(), temporary.c_str(), 0));
      temporary.clear();
    }
  }
};

Replacement::Replacement(const fs::path& path) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.place = Resolve(path);
  state.target = OpenExistingForWriting(state.place.folder.get(), state.place.name);
  // Every other name of the file must see the new sprite too, which a rename cannot do.
  if (state.target && StatOf(state.target.get()).st_nlink > 1) {
    return;
  }
  state.CreateTemporary();
  if (state.temporary_file &&
      (!state.target || LendAttributes(state.target.get(), state.temporary_file.get()))) {
    return;
  }
  // The folder takes no new files from this user, or the copy could not be given everything
  // the file has: the file itself is written, as a plain open for writing would.
  state.DropTemporary();
  if (!state.target) {
    Fail("this folder does not let the user create files", EACCES);
  }
}

Replacement::~Replacement() {
  state_->DropTemporary();
}

void Replacement::Commit(std::string_view content) {
  State& state = *state_;
  if (state.temporary.empty()) {
    WriteInPlace(state.target, content);
    return;
  }
  WriteAll(state.temporary_file.get(), content);
  Sync(state.temporary_file.get());
  state.temporary_file.Close();
  const int folder = state.place.folder.get();
  if (::renameat(folder, state.temporary.c_str(), folder, state.place.name.c_str()) != 0) {
    // A sticky folder lets only a file's owner replace it. The user may still write the file,
    // through the descriptor that was checked when the save began: the name may lead somewhere
    // else by now.
    const int error = errno;
    if ((error != EACCES && error != EPERM) || !state.target) {
      Fail("cannot replace the file", error);
    }
    WriteInPlace(state.target, content);
    state.DropTemporary();
    return;
  }
  state.temporary.clear();
  state.target = Descriptor();
  ClearAbandonedTemporaries(folder);
  SyncFolder(folder);
}

}  // namespace kavoni::native

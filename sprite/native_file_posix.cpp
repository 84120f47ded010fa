#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "sprite/file.h"
#include "sprite/native_file.h"

namespace kavoni::native {

namespace {

[[noreturn]] void Fail(const char* what, int error) {
  throw SpriteFileError(std::string(what) + ": " + std::strerror(error));
}

struct stat StatOf(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    Fail("cannot read the file's attributes", errno);
  }
  return info;
}

// As many links as the Linux kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;

constexpr char kAccessList[] = "system.posix_acl_access";

// The extended attributes that say who may use a file, or that its user put there: the access
// list and the user namespace. Security labels and trusted attributes belong to the system,
// which gives a new file its own.
bool IsCopied(std::string_view name) {
  return name == kAccessList || name.substr(0, 5) == "user.";
}

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

// Copies the access list and the user's extended attributes from one open file to another, and
// takes from `to` an access list that `from` lacks: a folder's default list, given to every
// new file, must not widen a file that had none. False when any of it could not be done.
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
    if (!IsCopied(name)) {
      continue;
    }
    std::string value;
    if (!ReadGrowing(value, [from, &name](char* bytes, std::size_t size) {
          return ::fgetxattr(from, name.c_str(), bytes, size);
        })) {
      if (errno == ENODATA) {
        continue;  // removed meanwhile
      }
      return false;
    }
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
      return false;
    }
    copied_access_list = copied_access_list || name == kAccessList;
  }
  return copied_access_list || ::fremovexattr(to, kAccessList) == 0 || errno == ENODATA ||
         errno == ENOTSUP;
}

}  // namespace

File::~File() {
  if (handle_ != kNoHandle) {
    ::close(handle_);
  }
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) {
      ::close(handle_);
    }
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

void File::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(handle_, bytes.data(), bytes.size());
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

void File::Truncate() {
  if (::ftruncate(handle_, 0) != 0 || ::lseek(handle_, 0, SEEK_SET) != 0) {
    Fail("cannot empty the file", errno);
  }
}

void File::Sync() {
  if (::fsync(handle_) != 0) {
    Fail("cannot sync", errno);
  }
}

void File::Close() {
  // POSIX leaves the descriptor closed whatever close() returns, so it is never retried.
  const int result = ::close(std::exchange(handle_, kNoHandle));
  if (result != 0 && errno != EINTR) {
    Fail("cannot close", errno);
  }
}

unsigned File::LinkCount() const {
  return static_cast<unsigned>(StatOf(handle_).st_nlink);
}

bool File::LendAttributesTo(File& other) const {
  const struct stat info = StatOf(handle_);
  // Only a privileged process may give a file away; anyone may give it a group they belong to.
  // Either may be refused, and the copy is then the user's own, which is what the user could
  // have made anyway. Ownership goes first, because changing it can clear set-id bits.
  if (::fchown(other.handle_, info.st_uid, info.st_gid) != 0 &&
      ::fchown(other.handle_, static_cast<uid_t>(-1), info.st_gid) != 0) {
    // The group refused as well: the copy keeps the user's own.
  }
  // The bits go last: with an access list in place they set its mask, which is the group bits
  // of the file copied, so the list and the bits agree as they did on it.
  return CopyExtendedAttributes(handle_, other.handle_) &&
         ::fchmod(other.handle_, info.st_mode & 07777) == 0;
}

std::filesystem::path FinalPath(const std::filesystem::path& path) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(current, error)) {
      return current;
    }
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) {
      throw SpriteFileError("cannot read the link: " + error.message());
    }
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  Fail("too many levels of links", ELOOP);
}

std::optional<File> OpenExistingForWriting(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return std::nullopt;
    }
    Fail("cannot look at the file", errno);
  }
  // Opening a FIFO for writing waits for a reader, and a device takes anything; neither can
  // hold a sprite, so they are turned away before any open.
  if (!S_ISREG(info.st_mode)) {
    Fail("not a regular file", EINVAL);
  }
  // O_NONBLOCK keeps the open from waiting should a FIFO take the file's place meanwhile.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return std::nullopt;
    }
    Fail("cannot open the file for writing", errno);
  }
  File file(fd);
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

std::optional<File> CreateNew(const std::filesystem::path& path) {
  // 0666 less the user's umask, as for any new file; O_NOFOLLOW with O_EXCL means a link
  // planted at this name is never followed.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
      return std::nullopt;
    }
    Fail("cannot create the file", errno);
  }
  return File(fd);
}

void PrepareToReplace(File&) {
  // A rename over an open file is fine here, and whether the folder allows it shows only when
  // it is tried; the descriptor stays open to write the file in place should it be refused.
}

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to, File&) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    // A sticky folder lets only a file's owner replace it.
    if (errno == EACCES || errno == EPERM) {
      return false;
    }
    Fail("cannot replace the file", errno);
  }
  return true;
}

bool IsAbandoned(const std::filesystem::path& path, std::chrono::seconds age) noexcept {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return false;
  }
  return std::time(nullptr) - info.st_mtime > age.count();
}

void RemoveIfPresent(const std::filesystem::path& path) noexcept {
  static_cast<void>(::unlink(path.c_str()));
}

void SyncFolder(const std::filesystem::path& folder) noexcept {
  // Without this a crash soon after the rename may bring back the old file. It can never bring
  // back a broken one, so a failure here is not worth reporting.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    static_cast<void>(::fsync(fd));
    ::close(fd);
  }
}

}  // namespace kavoni::native

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
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
  if (::fchown(other.handle_, info.st_uid, info.st_gid) != 0) {
    static_cast<void>(::fchown(other.handle_, static_cast<uid_t>(-1), info.st_gid));
  }
  return ::fchmod(other.handle_, info.st_mode & 07777) == 0;
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

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    // A sticky folder lets only a file's owner replace it.
    if (errno == EACCES || errno == EPERM) {
      return false;
    }
    Fail("cannot replace the file", errno);
  }
  return true;
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

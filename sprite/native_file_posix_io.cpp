#include "sprite/native_file_posix_io.h"

#include <unistd.h>

#include <cstring>

#include "sprite/file.h"

namespace kavoni::native::posix {

void Fail(const char* what, int error) {
  throw SpriteFileError(std::string(what) + ": " + std::strerror(error));
}

void Descriptor::Close() {
  // Linux leaves the descriptor closed whatever close() returns, even on EINTR, so it is never
  // made again: that could close a descriptor that another thread has just opened.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    Fail("cannot close", errno);
  }
}

void Descriptor::Reset() noexcept {
  if (fd_ >= 0) {
    ::close(std::exchange(fd_, -1));
  }
}

struct stat StatOf(int fd) {
  struct stat info {};
  if (Retried([&] { return ::fstat(fd, &info); }) != 0) {
    Fail("cannot read the file's attributes", errno);
  }
  return info;
}

void WriteAllAt(int fd, std::string_view bytes, off_t offset, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    const ssize_t count = Retried([&] {
      return ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                      offset + static_cast<off_t>(written));
    });
    if (count < 0) {
      Fail("cannot write", errno);
    }
    // Nothing written and no error: trying again would loop for ever.
    if (count == 0) {
      Fail("cannot write", EIO);
    }
    written += static_cast<std::size_t>(count);
  }
}

std::string ReadAll(int fd) {
  std::string bytes(static_cast<std::size_t>(StatOf(fd).st_size), '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      // The file may have grown since it was measured: read on until it ends.
      bytes.resize(bytes.size() + 4096);
    }
    const ssize_t count = Retried([&] {
      return ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    });
    if (count < 0) {
      Fail("cannot read the file", errno);
    }
    if (count == 0) {
      bytes.resize(got);
      return bytes;
    }
    got += static_cast<std::size_t>(count);
  }
}

void Sync(int fd) {
  if (Retried([fd] { return ::fsync(fd); }) != 0) {
    Fail("cannot sync", errno);
  }
}

}  // namespace kavoni::native::posix

#pragma once

// The system calls of a POSIX save, as both halves of it make them: every call that a signal
// can interrupt is made again, and every failure is thrown as SpriteFileError.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace kavoni::native::posix {

[[noreturn]] void Fail(const char* what, int error);

// Makes `call` again for as long as a signal interrupts it (it fails with EINTR), however the
// signal's handler was installed: with SA_RESTART the kernel restarts only some calls.
template <typename Call>
auto Retried(Call call) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR) {
      return result;
    }
  }
}

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
  void Close();

 private:
  void Reset() noexcept;

  int fd_ = -1;
};

struct stat StatOf(int fd);

// Writes all of `bytes` at `offset`; `written` counts what reached the file, even on failure.
void WriteAllAt(int fd, std::string_view bytes, off_t offset, std::size_t& written);

// Reads the whole file from its start.
std::string ReadAll(int fd);

void Sync(int fd);

}  // namespace kavoni::native::posix

#include "support/posix_faults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace kavoni::testing::faults {

namespace {

struct Injector {
  bool armed = false;
  int paused = 0;
  std::vector<Fault> plan;
  std::vector<std::string> calls;
  std::map<std::string, int> counts;
  int given = 0;
  std::size_t name_limit = 0;
  std::function<void()> watcher;
};

Injector& State() {
  static Injector* injector = new Injector;
  return *injector;
}

template <typename Function>
Function Real(const char* name) {
  void* real = ::dlsym(RTLD_NEXT, name);
  if (real == nullptr) {
    std::abort();
  }
  return reinterpret_cast<Function>(real);
}

// Counts the call, gives the plan's fault for it or makes it, and lets the watcher look.
// `label` is worked out only for a call that is counted.
template <typename Label, typename Call>
auto Intercept(Label label_of, Call call) -> decltype(call()) {
  Injector& state = State();
  if (!state.armed || state.paused > 0) {
    return call();
  }
  const std::string label = label_of();
  state.calls.push_back(label);
  const int occurrence = ++state.counts[label];
  decltype(call()) result{};
  bool faulted = false;
  for (const Fault& fault : state.plan) {
    if (fault.call == label && fault.occurrence == occurrence) {
      ++state.given;
      faulted = true;
      result = static_cast<decltype(call())>(-1);
      errno = fault.error;
    }
  }
  if (!faulted) {
    result = call();
  }
  if (state.watcher) {
    const int saved = errno;
    const Unwatched quiet;
    state.watcher();
    errno = saved;
  }
  return result;
}

std::string Kind(int fd) {
  struct stat info {};
  static const auto real_fstat = Real<int (*)(int, struct stat*)>("fstat");
  if (real_fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    return "(folder)";
  }
  return "";
}

std::string OpenLabel(int flags) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    return "openat(unnamed)";
  }
  if ((flags & O_CREAT) != 0) {
    return "openat(create)";
  }
#ifdef O_PATH
  if ((flags & O_PATH) != 0) {
    return "openat(folder)";
  }
#endif
  if ((flags & O_DIRECTORY) != 0) {
    return "openat(folder for reading)";
  }
  return (flags & O_ACCMODE) == O_RDWR ? "openat(read-write)" : "openat(write)";
}

// Whether `name` is longer than the limit that LimitNames set.
bool TooLong(const char* name) {
  const Injector& state = State();
  return state.armed && state.name_limit > 0 && std::strlen(name) > state.name_limit;
}

}  // namespace

void Arm(std::vector<Fault> plan) {
  Injector& state = State();
  state.plan = std::move(plan);
  state.calls.clear();
  state.counts.clear();
  state.given = 0;
  state.armed = true;
}

void Disarm() {
  State().armed = false;
}

const std::vector<std::string>& Calls() {
  return State().calls;
}

int FaultsGiven() {
  return State().given;
}

void LimitNames(std::size_t bytes) {
  State().name_limit = bytes;
}

void WatchBetweenCalls(std::function<void()> watcher) {
  State().watcher = std::move(watcher);
}

Unwatched::Unwatched() {
  ++State().paused;
}

Unwatched::~Unwatched() {
  --State().paused;
}

}  // namespace kavoni::testing::faults

using kavoni::testing::faults::Intercept;
using kavoni::testing::faults::Kind;
using kavoni::testing::faults::OpenLabel;
using kavoni::testing::faults::Real;
using kavoni::testing::faults::State;
using kavoni::testing::faults::TooLong;

// The C library's functions that a save calls, each in front of the real one.
extern "C" {

int openat(int at, const char* name, int flags, ...) {
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  return Intercept([&] { return std::string(OpenLabel(flags)); },
                   [&] {
                     if ((flags & O_CREAT) != 0 && TooLong(name)) {
                       errno = ENAMETOOLONG;
                       return -1;
                     }
                     return real(at, name, flags, mode);
                   });
}

// What a fortified build calls where the flags are not known while compiling.
int __openat_2(int at, const char* name, int flags) {
  static const auto real = Real<int (*)(int, const char*, int)>("__openat_2");
  return Intercept([&] { return std::string(OpenLabel(flags)); },
                   [&] { return real(at, name, flags); });
}

int close(int fd) {
  static const auto real = Real<int (*)(int)>("close");
  return Intercept([&] { return std::string("close" + Kind(fd)); }, [&] { return real(fd); });
}

int fstat(int fd, struct stat* info) {
  static const auto real = Real<int (*)(int, struct stat*)>("fstat");
  return Intercept([&] { return std::string("fstat" + Kind(fd)); }, [&] { return real(fd, info); });
}

int fstatat(int at, const char* name, struct stat* info, int flags) {
  static const auto real = Real<int (*)(int, const char*, struct stat*, int)>("fstatat");
  return Intercept([&] { return std::string("fstatat"); },
                   [&] { return real(at, name, info, flags); });
}

int statx(int at, const char* name, int flags, unsigned mask, struct statx* info) {
  static const auto real = Real<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
  return Intercept([&] { return std::string("statx" + Kind(at)); },
                   [&] { return real(at, name, flags, mask, info); });
}

int faccessat(int at, const char* name, int mode, int flags) {
  static const auto real = Real<int (*)(int, const char*, int, int)>("faccessat");
  return Intercept([&] { return std::string("faccessat"); },
                   [&] { return real(at, name, mode, flags); });
}

ssize_t readlinkat(int at, const char* name, char* buffer, size_t size) {
  static const auto real = Real<ssize_t (*)(int, const char*, char*, size_t)>("readlinkat");
  return Intercept([&] { return std::string("readlinkat"); },
                   [&] { return real(at, name, buffer, size); });
}

int fcntl(int fd, int command, ...) {
  static const auto real = Real<int (*)(int, int, ...)>("fcntl");
  va_list arguments;
  va_start(arguments, command);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  const char* label = command == F_GETFL   ? "fcntl(get)"
                      : command == F_SETFL ? "fcntl(set)"
                                           : "fcntl";
  return Intercept([&] { return std::string(label); }, [&] { return real(fd, command, argument); });
}

int ioctl(int fd, unsigned long request, ...) {
  static const auto real = Real<int (*)(int, unsigned long, ...)>("ioctl");
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  const char* label = request == FS_IOC_GETFLAGS   ? "ioctl(get flags)"
                      : request == FS_IOC_SETFLAGS ? "ioctl(set flags)"
                                                   : "ioctl";
  return Intercept([&] { return std::string(label); }, [&] { return real(fd, request, argument); });
}

int fchown(int fd, uid_t owner, gid_t group) {
  static const auto real = Real<int (*)(int, uid_t, gid_t)>("fchown");
  return Intercept([&] { return std::string("fchown"); }, [&] { return real(fd, owner, group); });
}

int fchmod(int fd, mode_t mode) {
  static const auto real = Real<int (*)(int, mode_t)>("fchmod");
  return Intercept([&] { return std::string("fchmod"); }, [&] { return real(fd, mode); });
}

ssize_t flistxattr(int fd, char* list, size_t size) {
  static const auto real = Real<ssize_t (*)(int, char*, size_t)>("flistxattr");
  return Intercept([&] { return std::string("flistxattr"); }, [&] { return real(fd, list, size); });
}

ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  static const auto real = Real<ssize_t (*)(int, const char*, void*, size_t)>("fgetxattr");
  return Intercept([&] { return std::string("fgetxattr"); },
                   [&] { return real(fd, name, value, size); });
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  static const auto real = Real<int (*)(int, const char*, const void*, size_t, int)>("fsetxattr");
  return Intercept([&] { return std::string("fsetxattr"); },
                   [&] { return real(fd, name, value, size, flags); });
}

int fremovexattr(int fd, const char* name) {
  static const auto real = Real<int (*)(int, const char*)>("fremovexattr");
  return Intercept([&] { return std::string("fremovexattr"); }, [&] { return real(fd, name); });
}

ssize_t pwrite(int fd, const void* bytes, size_t size, off_t offset) {
  static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return Intercept([&] { return std::string("pwrite"); },
                   [&] { return real(fd, bytes, size, offset); });
}

ssize_t pread(int fd, void* bytes, size_t size, off_t offset) {
  static const auto real = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  return Intercept([&] { return std::string("pread"); },
                   [&] { return real(fd, bytes, size, offset); });
}

int fsync(int fd) {
  static const auto real = Real<int (*)(int)>("fsync");
  return Intercept([&] { return std::string("fsync" + Kind(fd)); }, [&] { return real(fd); });
}

int fallocate(int fd, int mode, off_t offset, off_t length) {
  static const auto real = Real<int (*)(int, int, off_t, off_t)>("fallocate");
  return Intercept([&] { return std::string("fallocate"); },
                   [&] { return real(fd, mode, offset, length); });
}

int ftruncate(int fd, off_t length) {
  static const auto real = Real<int (*)(int, off_t)>("ftruncate");
  return Intercept([&] { return std::string("ftruncate"); }, [&] { return real(fd, length); });
}

int renameat(int from_at, const char* from, int to_at, const char* to) {
  static const auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
  return Intercept([&] { return std::string("renameat"); },
                   [&] { return real(from_at, from, to_at, to); });
}

int renameat2(int from_at, const char* from, int to_at, const char* to, unsigned flags) {
  static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return Intercept([&] { return std::string(flags == 0 ? "renameat2" : "renameat2(no replace)"); },
                   [&] {
                     if (TooLong(to)) {
                       errno = ENAMETOOLONG;
                       return -1;
                     }
                     return real(from_at, from, to_at, to, flags);
                   });
}

int linkat(int from_at, const char* from, int to_at, const char* to, int flags) {
  static const auto real = Real<int (*)(int, const char*, int, const char*, int)>("linkat");
  return Intercept([&] { return std::string("linkat"); },
                   [&] { return real(from_at, from, to_at, to, flags); });
}

long fpathconf(int fd, int name) {
  static const auto real = Real<long (*)(int, int)>("fpathconf");
  if (name == _PC_NAME_MAX && State().armed && State().name_limit > 0) {
    return static_cast<long>(State().name_limit);
  }
  return real(fd, name);
}

int unlinkat(int at, const char* name, int flags) {
  static const auto real = Real<int (*)(int, const char*, int)>("unlinkat");
  return Intercept([&] { return std::string("unlinkat"); }, [&] { return real(at, name, flags); });
}

}  // extern "C"

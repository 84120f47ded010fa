#pragma once

// Fault injection for the POSIX save: the test program puts its own versions of the C
// library's file calls in front of the real ones (found with dlsym(RTLD_NEXT)), so that the
// save's code, built as it ships, can be made to meet any answer that the kernel may give.
// While nothing is armed every call goes straight through.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kavoni::testing::faults {

// Makes the `occurrence`-th call (from 1) whose label is `call` fail with `error`, without
// reaching the kernel.
struct Fault {
  std::string call;
  int occurrence = 1;
  int error = 0;
};

// Starts counting and recording calls, with `plan`'s faults to give. Only this process's calls
// are seen, so a test arms a child process that makes the one save.
void Arm(std::vector<Fault> plan);
void Disarm();

// Each call made since Arm(), by label: the function's name, and in brackets what sets the
// call apart where one function does several jobs, as "openat(create)" or "fsync(folder)".
const std::vector<std::string>& Calls();

// How many of the plan's faults were given.
int FaultsGiven();

// While armed, the folders answer as a file system whose names are at most `bytes` long
// (0: as they are): fpathconf says so, and a longer name is refused with ENAMETOOLONG.
void LimitNames(std::size_t bytes);

// Runs after every call while armed (and not within another such run): a look at the folder
// as another user would take it between two calls.
void WatchBetweenCalls(std::function<void()> watcher);

// Calls made while one lives are neither counted nor faulted: the test's own.
class Unwatched {
 public:
  Unwatched();
  ~Unwatched();
  Unwatched(const Unwatched&) = delete;
  Unwatched& operator=(const Unwatched&) = delete;
};

}  // namespace kavoni::testing::faults

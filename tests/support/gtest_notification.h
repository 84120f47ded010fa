#pragma once

// GoogleTest's Notification for a standard library without std::mutex, as MinGW's win32
// thread model is: GoogleTest's own is built on std::mutex and std::condition_variable.
// GoogleTest takes one supplied this way (GTEST_HAS_NOTIFICATION_ is one of its documented
// customisation points). It is only used by GoogleTest's threading helpers, which these tests
// never start, so a spin on an atomic flag does.
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal

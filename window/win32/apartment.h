#pragma once

#include "window/win32/system_library.h"
#include "window/win32/windows_api.h"

namespace kavoni {

// The window thread's single-threaded COM apartment, which a thread that owns windows and
// uses COM must be in before it creates or hands out any COM object: screen readers' objects
// are marshalled from it, and the save dialog hosts shell extensions that expect it.
//
// It is entered on the first Enter(), just before the thread's first COM object, rather than
// at start-up: ole32 costs more to load than the window itself, and most sessions never meet a
// screen reader and save only after a while. Left again when this object goes, on the thread
// that entered it, which must be the one that owns the windows.
class Apartment {
 public:
  Apartment() = default;
  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  // Makes sure that the calling thread is in an apartment; throws std::runtime_error when COM
  // cannot be loaded or refuses. A thread that something else has already put in the
  // multithreaded apartment stays there: COM works in it, and it cannot be changed.
  void Enter();
  // Enter() for a caller with no command to fail, such as a screen reader's request: false
  // when COM cannot be had.
  bool TryEnter() noexcept;

 private:
  bool entered_ = false;
  Library ole32_;
  // Set only when this object's Enter() counted one entry that the destructor must undo.
  void(WINAPI* leave_)() = nullptr;
};

}  // namespace kavoni

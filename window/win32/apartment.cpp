#include "window/win32/apartment.h"

#include <objbase.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace kavoni {

Apartment::~Apartment() {
  if (leave_ != nullptr) {
    leave_();
  }
}

void Apartment::Enter() {
  if (entered_) {
    return;
  }
  Library ole32 = LoadSystemLibrary(L"ole32.dll");
  auto* const enter = Find<decltype(CoInitializeEx)>(ole32, "CoInitializeEx");
  auto* const leave = Find<decltype(CoUninitialize)>(ole32, "CoUninitialize");
  // No OLE 1 DDE: the shell asks for it to be off, and nothing here speaks it.
  const HRESULT result = enter(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (FAILED(result) && result != RPC_E_CHANGED_MODE) {
    throw std::runtime_error("cannot enter a COM apartment: error " +
                             std::to_string(static_cast<unsigned long>(result)));
  }
  // S_FALSE, when the thread was in this apartment already, counts an entry all the same.
  if (SUCCEEDED(result)) {
    leave_ = leave;
  }
  ole32_ = std::move(ole32);
  entered_ = true;
}

bool Apartment::TryEnter() noexcept {
  try {
    Enter();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kavoni

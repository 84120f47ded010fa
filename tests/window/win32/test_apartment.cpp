#include <gtest/gtest.h>

#include <exception>

#include "window/win32/apartment.h"
#include "window/win32/windows_api.h"
// After windows.h, which it needs.
#include <objbase.h>

namespace kavoni {
namespace {

// What COM says of the calling thread: its apartment, or none.
enum class In { kNone, kSingle, kMulti };

In ApartmentNow() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) {
    return In::kNone;
  }
  return type == APTTYPE_STA || type == APTTYPE_MAINSTA ? In::kSingle : In::kMulti;
}

struct Case {
  const char* name;
  DWORD before;  // how the thread enters COM before the window's Apartment, or ~0 for not at all
  In during;
  In after;
};

struct Seen {
  const Case* c;
  In during = In::kNone;
  In after = In::kNone;
  bool threw = false;
};

DWORD WINAPI RunCase(void* parameter) {
  auto& seen = *static_cast<Seen*>(parameter);
  const bool entered_before =
      seen.c->before != ~0ul && SUCCEEDED(CoInitializeEx(nullptr, seen.c->before));
  {
    Apartment apartment;
    try {
      apartment.Enter();
      apartment.Enter();  // once is enough, however often it is asked
    } catch (const std::exception&) {
      seen.threw = true;
    }
    seen.during = ApartmentNow();
  }
  seen.after = ApartmentNow();
  if (entered_before) {
    CoUninitialize();
  }
  return 0;
}

// Each case on a thread of its own, which starts in no apartment.
TEST(ApartmentTest, EntersASingleThreadedApartmentOnceAndLeavesWhatItEntered) {
  const Case cases[] = {
      {"a thread in none", ~0ul, In::kSingle, In::kNone},
      {"a thread in a single-threaded one", COINIT_APARTMENTTHREADED, In::kSingle, In::kSingle},
      {"a thread in the multithreaded one", COINIT_MULTITHREADED, In::kMulti, In::kMulti},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seen seen{&c};
    HANDLE thread = CreateThread(nullptr, 0, RunCase, &seen, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_FALSE(seen.threw);
    EXPECT_EQ(seen.during, c.during);
    EXPECT_EQ(seen.after, c.after);
  }
}

}  // namespace
}  // namespace kavoni

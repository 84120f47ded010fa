#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sprite/command.h"
#include "window/layout.h"
#include "window/win32/dpi.h"
#include "window/win32/kavoni_window.h"
#include "window/win32/windows_api.h"
// After windows.h, which they need.
#include <ole2.h>
#include <oleacc.h>

namespace kavoni {
namespace {

constexpr int kTwipsPerPixelAt96 = 15;

struct Twips {
  int left, top, width, height;
  bool operator==(const Twips&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Twips& t) {
  return out << "{" << t.left << ", " << t.top << ", " << t.width << ", " << t.height << "}";
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The designer window as the program makes it, shown, with its controls found by identifier.
class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<Kavoni>(GetModuleHandleW(nullptr));
    ShowWindow(window_->hwnd(), SW_SHOWNORMAL);
    Pump();
  }
  void TearDown() override {
    window_.reset();
    // Closing posts WM_QUIT for the program's loop; the next test must not inherit it.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  HWND hwnd() const { return window_->hwnd(); }
  HWND Control(int id) const { return GetDlgItem(hwnd(), id); }
  HWND Cell(int index) const { return Control(Kavoni::kCheck1Id + index); }

  // Where a control sits in the client area, in twips at 96 DPI.
  Twips PlaceOf(HWND control) const {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return {r.left * kTwipsPerPixelAt96, r.top * kTwipsPerPixelAt96,
            (r.right - r.left) * kTwipsPerPixelAt96, (r.bottom - r.top) * kTwipsPerPixelAt96};
  }

  std::unique_ptr<Kavoni> window_;
};

TEST_F(Win32WindowTest, ClientAreaAndControlsSitAtTheirTwipsAt96Dpi) {
  ASSERT_EQ(GetDpiForWindow(hwnd()), 96u) << "the twips below are for a 96 DPI screen";
  RECT client{};
  GetClientRect(hwnd(), &client);
  EXPECT_EQ(client.right * kTwipsPerPixelAt96, 1965);
  EXPECT_EQ(client.bottom * kTwipsPerPixelAt96, 4380);
  EXPECT_EQ(PlaceOf(Control(Kavoni::kLabel1Id)), (Twips{360, 0, 1935, 255}));
  EXPECT_EQ(PlaceOf(Control(Kavoni::kNmeId)), (Twips{0, 360, 1935, 285}));
  EXPECT_EQ(PlaceOf(Control(Kavoni::kCommand1Id)), (Twips{0, 2760, 1935, 1575}));
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(PlaceOf(Cell(i)), (Twips{240 * (i % 8), 720 + 240 * (i / 8), 255, 255})) << i;
  }
}

TEST_F(Win32WindowTest, FixedBorderWithMinimiseAndCloseButNoMaximise) {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_STYLE));
  EXPECT_NE(style & WS_CAPTION, 0u);
  EXPECT_NE(style & WS_SYSMENU, 0u);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0u);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
  EXPECT_EQ(style & WS_THICKFRAME, 0u);
  EXPECT_EQ(TextOf(hwnd()), L"Kavoni");
}

TEST_F(Win32WindowTest, ControlsAreThePlatformsOwnInTheMessageFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                         GetDpiForWindow(hwnd())));
  const struct {
    HWND control;
    const wchar_t* window_class;
    const wchar_t* text;
    LONG_PTR button_type;  // -1 for controls that are not buttons
  } controls[] = {
      {Control(Kavoni::kLabel1Id), L"Static", L"Sprite Name", -1},
      {Control(Kavoni::kNmeId), L"Edit", L"", -1},
      {Control(Kavoni::kCommand1Id), L"Button", L"Make Sprite", BS_PUSHBUTTON},
      {Cell(0), L"KavoniCell", L"Check1", BS_AUTOCHECKBOX},
      {Cell(63), L"KavoniCell", L"Check1", BS_AUTOCHECKBOX},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(testing::Message() << "control " << GetDlgCtrlID(c.control));
    EXPECT_EQ(_wcsicmp(ClassOf(c.control).c_str(), c.window_class), 0);
    EXPECT_EQ(TextOf(c.control), c.text);
    if (c.button_type >= 0) {
      EXPECT_EQ(GetWindowLongPtrW(c.control, GWL_STYLE) & BS_TYPEMASK, c.button_type);
    }
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c.control, WM_GETFONT, 0, 0)),
                         sizeof font, &font),
              0);
    EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
  }
}

TEST_F(Win32WindowTest, TabVisitsCellsRowByRowThenButtonThenNameAndWraps) {
  std::vector<int> expected;
  for (int i = 1; i < 64; ++i) {
    expected.push_back(Kavoni::kCheck1Id + i);
  }
  expected.push_back(Kavoni::kCommand1Id);
  expected.push_back(Kavoni::kNmeId);
  expected.push_back(Kavoni::kCheck1Id);

  std::vector<int> visited;
  HWND at = Cell(0);
  for (std::size_t step = 0; step < expected.size(); ++step) {
    at = GetNextDlgTabItem(hwnd(), at, FALSE);
    visited.push_back(GetDlgCtrlID(at));
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(Win32WindowTest, NameBoxTakesLongNamesAndPastesThemAsOneLine) {
  HWND name = Control(Kavoni::kNmeId);
  EXPECT_GT(SendMessageW(name, EM_GETLIMITTEXT, 0, 0), 32767);

  const std::wstring pasted = L"two\r\nlines\tand\x7f" + std::wstring(40000, L'x');
  ASSERT_TRUE(OpenClipboard(hwnd()));
  EmptyClipboard();
  const std::size_t bytes = (pasted.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), pasted.c_str(), bytes);
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();

  SendMessageW(name, WM_PASTE, 0, 0);
  const std::wstring expected = L"two lines and " + std::wstring(40000, L'x');
  EXPECT_EQ(TextOf(name), expected) << "whole, with each break or control character one space";
  EXPECT_EQ(window_->NameText(), std::string(expected.begin(), expected.end()));

  // Ctrl+Backspace types a DEL character into a plain edit control.
  SendMessageW(name, WM_CHAR, 0x7f, 0);
  EXPECT_EQ(TextOf(name), expected);
}

// The cells' class leaves the process's Button class as it was: a button made afterwards, as
// the message box and the save dialog make theirs, still draws through its parent's clipping.
TEST_F(Win32WindowTest, ButtonsMadeAfterTheWindowKeepTheirClassStyle) {
  HWND button = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD, 0, 0, 10, 10, hwnd(), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_NE(GetClassLongPtrW(button, GCL_STYLE) & CS_PARENTDC, 0);
  DestroyWindow(button);
}

// A cell's object, as a client in this process gets it, the object itself rather than a proxy:
// every interface that it hands out leads back to it. (A client in another process talks to a
// proxy, which keeps one identity whatever the object does.)
TEST_F(Win32WindowTest, CellObjectIsOneComObject) {
  const LRESULT answer =
      SendMessageW(Cell(9), WM_GETOBJECT, 0, static_cast<LPARAM>(static_cast<DWORD>(OBJID_CLIENT)));
  ASSERT_GT(answer, 0);
  IAccessible* object = nullptr;
  ASSERT_EQ(ObjectFromLresult(answer, __uuidof(IAccessible), 0, reinterpret_cast<void**>(&object)),
            S_OK);
  IUnknown* identity = nullptr;
  ASSERT_EQ(object->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&identity)), S_OK);
  for (const IID& id : {__uuidof(IDispatch), __uuidof(IAccessible), __uuidof(IOleWindow)}) {
    IUnknown* handed = nullptr;
    IUnknown* back = nullptr;
    ASSERT_EQ(object->QueryInterface(id, reinterpret_cast<void**>(&handed)), S_OK);
    ASSERT_EQ(handed->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, identity) << "interface " << id.Data1;
    back->Release();
    handed->Release();
  }
  IOleWindow* window = nullptr;
  HWND cell = nullptr;
  ASSERT_EQ(object->QueryInterface(__uuidof(IOleWindow), reinterpret_cast<void**>(&window)), S_OK);
  EXPECT_EQ(window->GetWindow(&cell), S_OK);
  EXPECT_EQ(cell, Cell(9));
  window->Release();
  identity->Release();
  object->Release();
}

// What the failure box shows, read back from the box itself while it is up.
struct BoxSeen {
  bool found = false;
  std::wstring text;
  HWND owner = nullptr;
  bool has_ok = false;
  bool has_cancel = false;
  bool has_icon = false;
};
BoxSeen box_seen;

BOOL CALLBACK NoteIcon(HWND child, LPARAM) {
  if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 &&
      (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    box_seen.has_icon = true;
  }
  return TRUE;
}

void CALLBACK ReadAndDismissTheBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", L"Error");
  if (box == nullptr) {
    return;
  }
  KillTimer(nullptr, timer);
  box_seen.found = true;
  box_seen.text = TextOf(GetDlgItem(box, 0xffff));
  box_seen.owner = GetWindow(box, GW_OWNER);
  box_seen.has_ok = GetDlgItem(box, IDOK) != nullptr;
  box_seen.has_cancel = GetDlgItem(box, IDCANCEL) != nullptr;
  EnumChildWindows(box, NoteIcon, 0);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Win32WindowTest, FailureBoxShowsTheMessageWithTheWarningIconAndOk) {
  box_seen = {};
  SetTimer(nullptr, 0, 50, ReadAndDismissTheBox);
  window_->ShowMessageBox(FailureMessage());
  ASSERT_TRUE(box_seen.found);
  EXPECT_EQ(box_seen.text, L"Oops!\nThere was a bug. Sorry. Please e-mail it to me at " +
                               std::wstring(L"" KAVONI_CONTACT_EMAIL) + L".");
  EXPECT_EQ(box_seen.owner, hwnd()) << "modal to the window";
  EXPECT_TRUE(box_seen.has_ok);
  EXPECT_FALSE(box_seen.has_cancel);
  EXPECT_TRUE(box_seen.has_icon);
}

// Moved to a monitor of 150 %, the window asks for its exact size there, takes the rectangle
// that the move then suggests, and lays itself out again for that DPI.
TEST_F(Win32WindowTest, NewDpiLaysTheWindowOutAgain) {
  constexpr UINT kDpi = 144;
  SIZE size{};
  EXPECT_TRUE(SendMessageW(hwnd(), WM_GETDPISCALEDSIZE, kDpi, reinterpret_cast<LPARAM>(&size)));
  const layout::PixelRect client = layout::ToPixels(layout::kClientArea, kDpi);
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_STYLE)), FALSE,
                           0, kDpi);
  EXPECT_EQ(size.cx, frame.right - frame.left);
  EXPECT_EQ(size.cy, frame.bottom - frame.top);
  RECT suggested{10, 20, 10 + size.cx, 20 + size.cy};
  SendMessageW(hwnd(), WM_DPICHANGED, MAKEWPARAM(kDpi, kDpi), reinterpret_cast<LPARAM>(&suggested));
  // Where it was put, with the client area of the layout at the new DPI. (On Windows the frame
  // grows with the DPI, and the suggested size is then kept exactly; Wine draws the frame of a
  // faked DPI at the real one, so the window corrects the size to keep its client area.)
  RECT placed{};
  GetWindowRect(hwnd(), &placed);
  EXPECT_EQ(placed.left, suggested.left);
  EXPECT_EQ(placed.top, suggested.top);
  RECT client_area{};
  GetClientRect(hwnd(), &client_area);
  EXPECT_EQ(client_area.right, client.width);
  EXPECT_EQ(client_area.bottom, client.height);
  RECT cell{};
  GetWindowRect(Cell(63), &cell);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&cell), 2);
  const layout::PixelRect expected = layout::ToPixels(layout::Check1(63), kDpi);
  EXPECT_EQ(cell.left, expected.left);
  EXPECT_EQ(cell.top, expected.top);
  EXPECT_EQ(cell.right - cell.left, expected.width);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Cell(63), WM_GETFONT, 0, 0)), sizeof font, &font);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, kDpi);
  EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
}

// The Windows versions that the window meets, as the newer DPI calls that it looks up make
// them: Wine has them all whatever version it reports, so each older Windows is made here by
// putting null, or an answer of Windows', in place of a call.
enum class Monitor { kLookedUp, kAnswers144, kFails, kAbsent };

struct Profile {
  const char* name;
  bool for_dpi_calls;  // GetDpiForWindow, AdjustWindowRectExForDpi, SystemParametersInfoForDpi
  Monitor monitor;     // shcore's GetDpiForMonitor
  UINT expected_dpi;   // 0 for the system's
};

std::ostream& operator<<(std::ostream& out, const Profile& p) {
  return out << p.name;
}

HRESULT WINAPI MonitorAt144(HMONITOR monitor, int type, UINT* dpi_x, UINT* dpi_y) {
  if (monitor == nullptr || type != 0 || dpi_x == nullptr || dpi_y == nullptr) {
    return E_INVALIDARG;
  }
  *dpi_x = *dpi_y = 144;
  return S_OK;
}

HRESULT WINAPI MonitorWithoutAnswer(HMONITOR, int, UINT*, UINT*) {
  return E_FAIL;
}

class Win32WindowOnWindowsTest : public ::testing::TestWithParam<Profile> {
 protected:
  void SetUp() override {
    saved_ = dpi::Lookups();
    dpi::Calls& calls = dpi::Lookups();
    if (!GetParam().for_dpi_calls) {
      calls.get_dpi_for_window = nullptr;
      calls.adjust_window_rect_ex_for_dpi = nullptr;
      calls.system_parameters_info_for_dpi = nullptr;
    }
    switch (GetParam().monitor) {
      case Monitor::kLookedUp:
        break;
      case Monitor::kAnswers144:
        calls.get_dpi_for_monitor = &MonitorAt144;
        break;
      case Monitor::kFails:
        calls.get_dpi_for_monitor = &MonitorWithoutAnswer;
        break;
      case Monitor::kAbsent:
        calls.get_dpi_for_monitor = nullptr;
        break;
    }
  }
  void TearDown() override {
    window_.reset();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    dpi::Lookups() = saved_;
  }

  // The DPI that the window should be laid out at.
  static UINT ExpectedDpi() {
    if (GetParam().expected_dpi != 0) {
      return GetParam().expected_dpi;
    }
    HDC screen = GetDC(nullptr);
    const int system = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(system);
  }

  // Checks the client area, the last cell and the font against the layout at `at`.
  void ExpectLaidOutAt(UINT at) const {
    const int dpi = static_cast<int>(at);
    RECT client{};
    GetClientRect(window_->hwnd(), &client);
    const layout::PixelRect wanted = layout::ToPixels(layout::kClientArea, dpi);
    EXPECT_EQ(client.right, wanted.width);
    EXPECT_EQ(client.bottom, wanted.height);
    HWND last = GetDlgItem(window_->hwnd(), Kavoni::kCheck1Id + 63);
    RECT cell{};
    GetWindowRect(last, &cell);
    MapWindowPoints(nullptr, window_->hwnd(), reinterpret_cast<POINT*>(&cell), 2);
    const layout::PixelRect expected = layout::ToPixels(layout::Check1(63), dpi);
    EXPECT_EQ(cell.left, expected.left);
    EXPECT_EQ(cell.top, expected.top);
    EXPECT_EQ(cell.right - cell.left, expected.width);
    EXPECT_EQ(cell.bottom - cell.top, expected.height);
    // Windows 10's own message font at that DPI is what the older calls must come to.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(
        SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, at));
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(last, WM_GETFONT, 0, 0)), sizeof font,
                         &font),
              0);
    EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
    EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
  }

  std::unique_ptr<Kavoni> window_;
  dpi::Calls saved_{};
};

// The window starts at its DPI, as each Windows tells it, with the layout's size in twips.
TEST_P(Win32WindowOnWindowsTest, StartsAtTheDpiThatWindowsGivesIt) {
  window_ = std::make_unique<Kavoni>(GetModuleHandleW(nullptr));
  ShowWindow(window_->hwnd(), SW_SHOWNORMAL);
  ExpectLaidOutAt(ExpectedDpi());
}

// Moved to a monitor of 120 DPI: Windows 10 1703 and later ask for the exact size first; the
// older ones suggest the old window scaled, frame and all, and the window still ends with the
// layout's client area, where Windows put it.
TEST_P(Win32WindowOnWindowsTest, FollowsAMoveToAnotherDpi) {
  constexpr UINT kDpi = 120;
  window_ = std::make_unique<Kavoni>(GetModuleHandleW(nullptr));
  ShowWindow(window_->hwnd(), SW_SHOWNORMAL);
  HWND hwnd = window_->hwnd();
  SIZE size{};
  const bool asked =
      SendMessageW(hwnd, WM_GETDPISCALEDSIZE, kDpi, reinterpret_cast<LPARAM>(&size)) != FALSE;
  EXPECT_EQ(asked, GetParam().for_dpi_calls) << "the exact size is given only where it is known";
  RECT before{};
  GetWindowRect(hwnd, &before);
  const UINT old_dpi = ExpectedDpi();
  if (!asked) {
    size = {MulDiv(before.right - before.left, kDpi, old_dpi),
            MulDiv(before.bottom - before.top, kDpi, old_dpi)};
  }
  RECT suggested{30, 40, 30 + size.cx, 40 + size.cy};
  SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(kDpi, kDpi), reinterpret_cast<LPARAM>(&suggested));
  RECT placed{};
  GetWindowRect(hwnd, &placed);
  EXPECT_EQ(placed.left, suggested.left);
  EXPECT_EQ(placed.top, suggested.top);
  ExpectLaidOutAt(kDpi);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, Win32WindowOnWindowsTest,
    ::testing::Values(Profile{"Windows10v1607AndLater", true, Monitor::kLookedUp, 0},
                      Profile{"Windows81To10v1511", false, Monitor::kLookedUp, 0},
                      Profile{"Windows81On150PercentMonitor", false, Monitor::kAnswers144, 144},
                      Profile{"Windows81MonitorWithoutAnswer", false, Monitor::kFails, 0},
                      Profile{"Windows7And8", false, Monitor::kAbsent, 0}),
    [](const ::testing::TestParamInfo<Profile>& info) { return std::string(info.param.name); });

// A call's address, whatever its type.
template <typename Call>
void (*Address(Call call))() {
  return reinterpret_cast<void (*)()>(call);
}

// The calls are found by their names where Windows has them (Wine has all), and shcore.dll's
// only on the first need of it.
TEST(DpiLookupTest, FindsEachCallByItsNameAndShcoresOnlyWhenNeeded) {
  const dpi::Calls saved = dpi::Lookups();
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const dpi::Calls fresh = dpi::LookUpCalls();
  EXPECT_EQ(Address(fresh.get_dpi_for_window), Address(GetProcAddress(user32, "GetDpiForWindow")));
  EXPECT_EQ(Address(fresh.adjust_window_rect_ex_for_dpi),
            Address(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
  EXPECT_EQ(Address(fresh.system_parameters_info_for_dpi),
            Address(GetProcAddress(user32, "SystemParametersInfoForDpi")));
  EXPECT_NE(fresh.get_dpi_for_window, nullptr);
  HMODULE shcore = LoadLibraryW(L"shcore.dll");
  ASSERT_NE(shcore, nullptr);
  const auto real = Address(GetProcAddress(shcore, "GetDpiForMonitor"));
  ASSERT_NE(real, nullptr);
  EXPECT_NE(Address(fresh.get_dpi_for_monitor), real) << "looked up too early";

  dpi::Lookups() = fresh;
  dpi::Lookups().get_dpi_for_window = nullptr;
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  EXPECT_GE(dpi::OfWindow(window), 96u);
  EXPECT_EQ(Address(dpi::Lookups().get_dpi_for_monitor), real);
  DestroyWindow(window);
  dpi::Lookups() = saved;
  FreeLibrary(shcore);
}

}  // namespace
}  // namespace kavoni

// What an MSAA client, such as a screen reader, hears of Kavoni.exe's cells: for each of the 64,
// in order, "name|name through IDispatch|role|state", with role and state as the numbers that
// oleacc gives. The second name is read as scripting clients read it, by
// IDispatch::Invoke(DISPID_ACC_NAME), and is empty when that fails.
// usage: msaa_cells.exe        exit status 1 when the window or a cell's object is not found
#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include <cstdio>

int wmain() {
  HWND window = FindWindowW(L"Kavoni", nullptr);
  if (window == nullptr || FAILED(CoInitialize(nullptr))) {
    return 1;
  }
  constexpr int kFirstCellId = 1000;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  for (int index = 0; index < 64; ++index) {
    IAccessible* cell = nullptr;
    if (FAILED(AccessibleObjectFromWindow(GetDlgItem(window, kFirstCellId + index),
                                          static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&cell)))) {
      return 1;
    }
    BSTR name = nullptr;
    VARIANT role{};
    VARIANT state{};
    cell->get_accName(self, &name);
    cell->get_accRole(self, &role);
    cell->get_accState(self, &state);
    // accName(CHILDID_SELF), the child given as a script gives it.
    VARIANT argument = self;
    DISPPARAMS arguments{&argument, nullptr, 1, 0};
    VARIANT dispatched{};
    const bool invoked =
        SUCCEEDED(cell->Invoke(DISPID_ACC_NAME, GUID{}, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                               &arguments, &dispatched, nullptr, nullptr)) &&
        dispatched.vt == VT_BSTR && dispatched.bstrVal != nullptr;
    std::printf("%ls|%ls|%ld|%ld\n", name != nullptr ? name : L"",
                invoked ? dispatched.bstrVal : L"", role.vt == VT_I4 ? role.lVal : -1L,
                state.vt == VT_I4 ? state.lVal : -1L);
    VariantClear(&dispatched);
    SysFreeString(name);
    cell->Release();
  }
  CoUninitialize();
  return 0;
}

// Sets the text of Kavoni.exe's name box as other programs do, by message rather than by keys:
// UI Automation's SetValue, dictation and scripts. WM_SETTEXT puts TEXT in, then EM_REPLACESEL
// puts MORE at its end. Both may hold \r, \n and \t, spelled so, which stand for CR, LF and tab.
//
// usage: wine name_box.exe TEXT MORE
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring Unescape(const wchar_t* text) {
  std::wstring out;
  for (; *text != L'\0'; ++text) {
    if (*text != L'\\' || text[1] == L'\0') {
      out += *text;
      continue;
    }
    ++text;
    out += *text == L'r' ? L'\r' : *text == L'n' ? L'\n' : *text == L't' ? L'\t' : *text;
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: name_box TEXT MORE\n");
    return 2;
  }
  constexpr int kNameBoxId = 2002;
  HWND box = GetDlgItem(FindWindowW(L"Kavoni", nullptr), kNameBoxId);
  if (box == nullptr) {
    std::fprintf(stderr, "name_box: Kavoni's name box is not found\n");
    return 1;
  }
  const std::wstring text = Unescape(argv[1]);
  const std::wstring more = Unescape(argv[2]);
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  // By message: GetWindowTextLength does not read the text of another program's control.
  const LRESULT end = SendMessageW(box, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(more.c_str()));
  return 0;
}

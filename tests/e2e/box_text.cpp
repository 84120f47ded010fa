// Prints the text of the message box titled $1, as Windows shows it, in UTF-8: the end-to-end
// test reads the failure box of Kavoni.exe with it, as a person reads the screen. Wine's
// message boxes do not copy their text on Ctrl+C, as Windows' own do.
//
// usage: wine box_text.exe TITLE
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: box_text TITLE\n");
    return 2;
  }
  HWND box = FindWindowW(L"#32770", argv[1]);
  if (box == nullptr) {
    std::fprintf(stderr, "box_text: no message box is showing\n");
    return 1;
  }
  // A message box shows its text in the static control numbered 0xFFFF.
  HWND text = GetDlgItem(box, 0xffff);
  std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(text)) + 1, L'\0');
  wide.resize(
      static_cast<std::size_t>(GetWindowTextW(text, wide.data(), static_cast<int>(wide.size()))));
  std::string utf8(
      static_cast<std::size_t>(WideCharToMultiByte(
          CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr)),
      '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                      static_cast<int>(utf8.size()), nullptr, nullptr);
  // Binary, so that the C runtime does not turn each line feed into CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "sprite/command.h"
#include "sprite/rows.h"
#include "window/win32/apartment.h"
#include "window/win32/cell.h"
#include "window/win32/save_dialog.h"
#include "window/win32/windows_api.h"

namespace kavoni {

// The designer window in the platform's own controls: 64 pixel check boxes, a name box, its
// label and the button, placed from the twips layout at the window's DPI. It
// holds the sprite being drawn and supplies the Make Sprite command with everything it reads
// or shows. Closing it ends the program's message loop.
class Kavoni final : public SpriteUi {
 public:
  // Control identifiers, so that IsDialogMessage and tests can find the controls.
  static constexpr int kCheck1Id = cell::kCheck1Id;  // Check1(i) is kCheck1Id + i
  static constexpr int kCommand1Id = 2000;
  static constexpr int kLabel1Id = 2001;
  static constexpr int kNmeId = 2002;

  // Creates the window, not yet shown, with focus set to go to Check1(0).
  explicit Kavoni(HINSTANCE instance);
  ~Kavoni() override;
  Kavoni(const Kavoni&) = delete;
  Kavoni& operator=(const Kavoni&) = delete;

  HWND hwnd() const { return hwnd_; }

  bool CellTicked(int index) override;
  bool RunSaveDialog() override;
  std::filesystem::path DialogFileName() override;
  std::string NameText() override;
  void ShowMessageBox(const MessageBoxRequest& box) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  // Places every control for `dpi`, in the system's message font, and gives the client area
  // the layout's size at that DPI.
  void LayOut(UINT dpi);

  HWND hwnd_ = nullptr;
  HWND label1_ = nullptr;
  HWND nme_ = nullptr;
  std::array<HWND, kCellCount> check1_{};
  HWND command1_ = nullptr;
  HFONT font_ = nullptr;
  // The control to give the focus back to when the window is activated again.
  HWND focus_ = nullptr;
  SaveDialog cd_;
  // Last, so that it is left only once the window has gone, and while the dialog's libraries,
  // whose objects may live in it, are still loaded.
  Apartment apartment_;
};

}  // namespace kavoni

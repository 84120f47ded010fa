#pragma once

#include "window/win32/apartment.h"
#include "window/win32/windows_api.h"
// After windows.h, which it needs.
#include <commctrl.h>

// The grid's cells: check boxes of a window class of the program's own, a superclass of the
// system's Button. A cell moves the focus with the arrow keys, shows its focus round the whole
// visible box, and tells screen readers which pixel it is.
namespace kavoni::cell {

// Check1(i) has the control identifier kCheck1Id + i, by which the cells find each other.
inline constexpr int kCheck1Id = 1000;

// Registers the cells' class for `instance`, once; throws std::runtime_error if the system has
// no Button class to build it on.
void RegisterCellClass(HINSTANCE instance);

// Creates Check1(index) in `parent`, unplaced; its accessible object is handed out from
// `apartment`, which must outlive the cell. Throws std::runtime_error when it cannot.
HWND Create(HWND parent, int index, Apartment& apartment);

// Puts Check1(index) at its place in the layout at `dpi`, showing only up to where its
// neighbours start. It is not repainted: the caller repaints the window once for all of them.
void Place(HWND cell, int index, int dpi);

// Whether a notification's sender is one of the cells.
bool IsCellId(UINT_PTR id);

// The parent's answer to a cell's NM_CUSTOMDRAW: the focus mark round the visible cell.
LRESULT DrawFocus(const NMCUSTOMDRAW& draw);

}  // namespace kavoni::cell

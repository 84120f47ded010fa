#pragma once

#include "window/win32/windows_api.h"

// The one-line name box: an edit control that holds a name of any length, and turns every
// line break (CR LF counts as one) and control character into a space however the text
// arrives, typed, pasted or set by another program, as the Linux window does.
namespace kavoni::name_box {

// Creates the box in `parent` with the control identifier `id`, unplaced; throws
// std::runtime_error when it cannot.
HWND Create(HWND parent, int id);

}  // namespace kavoni::name_box

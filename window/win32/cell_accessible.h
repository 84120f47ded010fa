#pragma once

#include <string>

#include "window/win32/windows_api.h"

namespace kavoni {

// The answer to WM_GETOBJECT for a cell's client object: the system's own check box object,
// with its role, state, focus and actions, under the name `name` instead of its hidden caption.
// oleacc and oleaut32 are loaded on the first request, which comes only from a screen reader
// or another accessibility client, so start-up does not pay for them. Returns 0 when the object
// cannot be made; the caller then lets the system answer as it would have. The calling thread
// must be in an apartment (see Apartment), from which the object is marshalled to the client.
LRESULT AnswerCellObjectRequest(HWND cell, WPARAM wparam, const std::wstring& name) noexcept;

}  // namespace kavoni

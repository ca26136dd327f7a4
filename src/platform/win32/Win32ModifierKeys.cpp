// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32ModifierKeys.h"

#include <windows.h>

namespace tavrin::win32 {

bool Win32ModifierKeys::ctrlAndAltHeld() const {
    // The high bit: the key is down now.
    return (::GetAsyncKeyState(VK_CONTROL) & 0x8000) && (::GetAsyncKeyState(VK_MENU) & 0x8000);
}

} // namespace tavrin::win32

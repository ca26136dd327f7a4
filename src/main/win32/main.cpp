// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture for Windows: the viewer and recorder for a real board, found through
// SetupAPI and read through WinUSB.
#include "main/win32/Win32ProgramMain.h"
#include "platform/winusb/WinUsbTransport.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tavrin::winusb::WinUsbTransport transport;
    return tavrin::program::runWin32Program(instance, transport, true);
}

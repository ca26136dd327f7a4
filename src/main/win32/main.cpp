// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture for Windows. The board's own transport (WinUSB) comes next; until
// then no board is ever found, and the program shows "Not connected".
#include "device/UsbTransport.h"
#include "main/win32/Win32ProgramMain.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tavrin::device::NoBoards transport;
    return tavrin::program::runWin32Program(instance, transport, true);
}

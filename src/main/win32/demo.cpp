// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture for Windows on the simulated board's moving picture, for trying it
// without hardware.
#include "main/win32/Win32ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tavrin::sim::SimulatedBoard board;
    return tavrin::program::runWin32Program(instance, board, false);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture for Windows on the simulated board's moving picture, for trying it
// without hardware.
//   tavrin-capture-demo.exe [--needs-firmware]
// --needs-firmware: the board reports firmware version 1 and so asks for an update.
#include "main/win32/Win32ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

#include <cstring>

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    tavrin::sim::SimulatedBoard::Options options;
    if (commandLine && std::strstr(commandLine, "--needs-firmware"))
        options.version = 1;
    tavrin::sim::SimulatedBoard board(options);
    return tavrin::program::runWin32Program(instance, board, false);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture for Windows. The board's own transport (WinUSB) comes next; until
// then no board is ever found, and the program shows "Not connected".
#include "main/win32/Win32ProgramMain.h"

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace {

// A system without boards: every look finds none.
class NoBoards final : public tavrin::device::UsbTransport {
  public:
    std::vector<std::string> listInterfaces() override { return {}; }
    std::unique_ptr<tavrin::device::UsbConnection> open(const std::string&) override { return nullptr; }
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    NoBoards transport;
    return tavrin::program::runWin32Program(instance, transport, true);
}

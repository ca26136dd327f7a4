// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Console.h"

#include <cstdio>

#include <windows.h>

namespace tavrin::win32 {

namespace {

void reopen(const char* name, const char* mode, FILE* stream) {
    FILE* reopened = nullptr;
    if (::freopen_s(&reopened, name, mode, stream) == 0)
        std::setvbuf(stream, nullptr, _IONBF, 0); // each diagnostic line shows at once
}

} // namespace

bool Win32Console::createConsole() {
    if (!::AllocConsole())
        return false; // one is there already: the command closes it instead
    ::SetConsoleTitleW(L"Tavrin Capture - Debug");
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(output, &info))
        ::SetConsoleScreenBufferSize(output, COORD{info.dwSize.X, 500});
    if (HWND window = ::GetConsoleWindow())
        if (HMENU menu = ::GetSystemMenu(window, FALSE))
            ::DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
    reopen("CONOUT$", "w", stdout);
    reopen("CONIN$", "r", stdin);
    reopen("CONOUT$", "w", stderr);
    return true;
}

void Win32Console::destroyConsole() {
    // The streams go nowhere until the next console.
    reopen("NUL", "w", stdout);
    reopen("NUL", "r", stdin);
    reopen("NUL", "w", stderr);
    ::FreeConsole();
}

} // namespace tavrin::win32

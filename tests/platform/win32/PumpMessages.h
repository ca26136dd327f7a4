// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <optional>

#include <windows.h>

namespace tavrin::testing {

// Runs the calling thread's messages as the program's loop does (keys of `dialog`
// through IsDialogMessage, when it is a window) until `done` holds or `limit` passes;
// returns whether `done` held. A WM_QUIT ends the run, its exit code kept in `quit`.
template <class Done>
bool pumpUntil(HWND dialog, Done done, std::chrono::milliseconds limit = std::chrono::seconds(5),
               std::optional<WPARAM>* quit = nullptr) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                if (quit)
                    *quit = message.wParam;
                return done();
            }
            if (dialog && ::IsWindow(dialog) && ::IsDialogMessageW(dialog, &message))
                continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (std::chrono::steady_clock::now() > until)
            return false;
        ::Sleep(5);
    }
    return true;
}

// The thread's messages for a moment.
inline void pumpFor(std::chrono::milliseconds time) {
    pumpUntil(
        nullptr, [] { return false; }, time);
}

} // namespace tavrin::testing

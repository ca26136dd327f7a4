// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>

namespace tavrin::win32 {

// The program's messages (base/Messages.h) as real window messages. The UM_
// messages keep their numbers (WM_USER + 1 ...); the close request and the
// debug console's system command become WM_CLOSE and WM_SYSCOMMAND. Kept here, in
// one file, because windows.h defines WM_CLOSE and WM_SYSCOMMAND as macros, which
// would rewrite the core's names wherever both are seen.
uint32_t toWindowMessage(uint32_t coreMessage);
// The core's number for a window message, nothing for one that is not the program's.
std::optional<uint32_t> toCoreMessage(uint32_t windowMessage);
// The core's close request (the Win32 WM_CLOSE arrives as it).
uint32_t coreCloseMessage();

// The adapter's own window messages, above WM_APP (0x8000), beyond the core's range.
// lParam: a std::wstring* for the status line, handed over by another thread.
constexpr uint32_t kStatusTextMessage = 0x8001;
// lParam: a std::string* with the address of a newer release, from the update check.
constexpr uint32_t kUpdatePromptMessage = 0x8002;
// The board's interface arrived, as a transport that tells of its own arrivals says.
constexpr uint32_t kBoardArrivalMessage = 0x8003;

} // namespace tavrin::win32

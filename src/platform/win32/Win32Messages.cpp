// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Messages.h"

#include "base/Messages.h"

namespace {
// Taken before windows.h turns WM_CLOSE and WM_SYSCOMMAND into its own numbers.
constexpr uint32_t kCoreClose = tavrin::base::WM_CLOSE;
constexpr uint32_t kCoreSysCommand = tavrin::base::WM_SYSCOMMAND;
constexpr uint32_t kFirstUserMessage = tavrin::base::UM_FRAME;
constexpr uint32_t kLastUserMessage = tavrin::base::UM_LISTEN;
} // namespace

// After the core's headers, for the reason above.
#include <windows.h>

namespace tavrin::win32 {

static_assert(kFirstUserMessage == WM_USER + 1, "UM_FRAME is WM_USER + 1");
static_assert(kLastUserMessage < WM_APP && kStatusTextMessage > WM_APP, "the adapter's own messages");

uint32_t toWindowMessage(uint32_t coreMessage) {
    if (coreMessage == kCoreClose)
        return WM_CLOSE;
    if (coreMessage == kCoreSysCommand)
        return WM_SYSCOMMAND;
    return coreMessage;
}

std::optional<uint32_t> toCoreMessage(uint32_t windowMessage) {
    if (windowMessage == WM_CLOSE)
        return kCoreClose;
    if (windowMessage == WM_SYSCOMMAND)
        return kCoreSysCommand;
    if (windowMessage >= kFirstUserMessage && windowMessage <= kLastUserMessage)
        return windowMessage;
    return std::nullopt;
}

uint32_t coreCloseMessage() {
    return kCoreClose;
}

} // namespace tavrin::win32

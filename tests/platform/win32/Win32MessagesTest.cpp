// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Messages.h"
#include "platform/win32/Win32ControlWindow.h"

#include "base/Messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

using namespace tavrin;

// The core's numbers, taken before windows.h (which the tests do not include) could
// redefine the names; the window messages are Windows' own fixed numbers.
struct MessageCase {
    const char* name;
    uint32_t core;
    uint32_t window;
};
constexpr MessageCase kMessages[] = {
    {"UM_FRAME", base::UM_FRAME, 0x0401},   {"UM_FOCUS_DISPLAY", base::UM_FOCUS_DISPLAY, 0x0402},
    {"UM_DEVICE", base::UM_DEVICE, 0x0403}, {"UM_TOPMOST", base::UM_TOPMOST, 0x0404},
    {"UM_CAMERA", base::UM_CAMERA, 0x0405}, {"UM_LISTEN", base::UM_LISTEN, 0x0406},
    {"WM_CLOSE", base::WM_CLOSE, 0x0010},   {"WM_SYSCOMMAND", base::WM_SYSCOMMAND, 0x0112},
};

TEST(Win32Messages, TheProgramsMessagesAreRealWindowMessagesBothWays) {
    for (const auto& c : kMessages) {
        EXPECT_EQ(win32::toWindowMessage(c.core), c.window) << c.name;
        EXPECT_EQ(win32::toCoreMessage(c.window), std::optional<uint32_t>(c.core)) << c.name;
    }
    EXPECT_EQ(win32::coreCloseMessage(), base::WM_CLOSE);
}

TEST(Win32Messages, OtherWindowMessagesAreNotTheProgramsOwn) {
    // The core's own numbers for close and the system command are no window
    // messages of theirs, and neither are WM_PAINT, WM_USER itself, the first number
    // after the program's range or the adapter's own messages.
    for (uint32_t message :
         {1u, 2u, 0x000Fu, 0x0400u, 0x0407u, win32::kStatusTextMessage, win32::kUpdatePromptMessage})
        EXPECT_EQ(win32::toCoreMessage(message), std::nullopt) << message;
}

TEST(Win32IconButton, TheFirstStateThatHoldsWins) {
    using win32::ButtonLook;
    constexpr int NORMAL = 1, HOT = 2, PRESSED = 3, DISABLED = 4, DEFAULTED = 5;
    struct Case {
        ButtonLook look;
        int state;
    };
    const Case cases[] = {
        {{}, NORMAL},
        {{.disabled = true, .selected = true, .pushLikeChecked = true, .hot = true, .focused = true},
         DISABLED},
        {{.selected = true, .hot = true, .focused = true}, PRESSED},
        {{.pushLikeChecked = true, .hot = true, .defaultButton = true}, PRESSED},
        {{.hot = true, .defaultButton = true, .focused = true}, HOT},
        {{.defaultButton = true}, DEFAULTED},
        {{.focused = true}, DEFAULTED},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(win32::pushButtonState(cases[i].look), cases[i].state) << "case " << i;
}

TEST(Win32IconButton, TheIconIsCentredRoundingTowardZero) {
    struct Case {
        int left, top, width, height, x, y;
    };
    // Odd spare room loses its half pixel; a content rectangle smaller than the icon
    // (negative room) rounds toward zero too, not down.
    const Case cases[] = {{0, 0, 32, 32, 0, 0}, {3, 4, 43, 37, 8, 6}, {3, 4, 44, 38, 9, 7},
                          {5, 6, 29, 31, 4, 6}, {5, 6, 27, 30, 3, 5}, {-2, 10, 40, 33, 2, 10}};
    for (const auto& c : cases) {
        const auto at = win32::centredIcon(c.left, c.top, c.width, c.height, 32);
        EXPECT_EQ(at.x, c.x) << c.left << "," << c.width;
        EXPECT_EQ(at.y, c.y) << c.top << "," << c.height;
    }
}

} // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32DisplayWindows.h"

#include "base/Messages.h"
#include "base/ProgramOptions.h"
#include "base/Settings.h"
#include "display/DisplayWindowActions.h"
#include "display/DisplayWindowSet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {
// The core's numbers, before windows.h makes WM_CLOSE its own (see Win32Messages.h).
constexpr uint32_t kCoreClose = tavrin::base::WM_CLOSE;
constexpr uint32_t kCoreSysCommand = tavrin::base::WM_SYSCOMMAND;
constexpr uint32_t kTopmost = tavrin::base::UM_TOPMOST;
} // namespace

#include <windows.h>

#include "platform/win32/PumpMessages.h"

namespace {

using namespace tavrin;

struct Posted {
    uint32_t message;
    uintptr_t wParam;
};

class PostedMessages final : public base::MessageTarget {
  public:
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
        seen.push_back({message, wParam});
    }
    bool saw(uint32_t message) const {
        for (const Posted& p : seen)
            if (p.message == message)
                return true;
        return false;
    }
    std::vector<Posted> seen;
};

SIZE clientSize(HWND window) {
    RECT r{};
    ::GetClientRect(window, &r);
    return {r.right, r.bottom};
}

std::wstring textOf(HWND window) {
    wchar_t text[64] = {};
    ::GetWindowTextW(window, text, 64);
    return text;
}

class Win32DisplayWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link.set(&posted);
        display::DisplayWindowPlan plan;
        plan.title = "Picture test";
        plan.width = plan.partWidth = plan.clientWidth = 256;
        plan.height = plan.partHeight = plan.clientHeight = 384;
        plan.twoScreens = true;
        handle = windows.createDisplayWindow(plan);
        ASSERT_TRUE(handle);
        window = ::FindWindowW(L"TavrinCapture DisplayWindow", L"Picture test");
        ASSERT_TRUE(window);
        // The frame around the client area, as the window has it.
        RECT outer{};
        ::GetWindowRect(window, &outer);
        const SIZE client = clientSize(window);
        extraWidth = outer.right - outer.left - client.cx;
        extraHeight = outer.bottom - outer.top - client.cy;
    }
    void TearDown() override {
        handle.reset();
        link.set(nullptr);
    }

    PostedMessages posted;
    base::MessageLink link;
    base::Settings settings;
    base::ProgramOptions options;
    win32::Win32DisplayWindows windows{::GetModuleHandleW(nullptr), settings, &options, link,
                                       [](const char*) {}};
    std::unique_ptr<display::DisplayWindowHandle> handle;
    HWND window = nullptr;
    LONG extraWidth = 0;
    LONG extraHeight = 0;
};

// WM_SIZING goes by the sizing rule: the proposed rectangle is moved to the size the
// rule gives, keeping the corner opposite the dragged edge; the size is saved and
// shown in the title until the sizing ends.
TEST_F(Win32DisplayWindowTest, SizingFollowsTheRule) {
    struct Case {
        WPARAM edge;
        LONG clientWidth, clientHeight; // proposed
        LONG width, height;             // given
    };
    const Case cases[] = {
        {WMSZ_RIGHT, 500, 384, 512, 768},     {WMSZ_BOTTOM, 256, 700, 466, 699},
        {WMSZ_BOTTOM, 256, 760, 512, 768},    {WMSZ_BOTTOMRIGHT, 100, 100, 256, 384},
        {WMSZ_TOPLEFT, 770, 1150, 768, 1152}, {WMSZ_LEFT, 530, 384, 530, 795},
    };
    for (const Case& c : cases) {
        RECT r{100, 100, 100 + extraWidth + c.clientWidth, 100 + extraHeight + c.clientHeight};
        const RECT proposed = r;
        EXPECT_EQ(::SendMessageW(window, WM_SIZING, c.edge, reinterpret_cast<LPARAM>(&r)), TRUE);
        EXPECT_EQ(r.right - r.left - extraWidth, c.width) << c.edge << ": " << c.clientWidth;
        EXPECT_EQ(r.bottom - r.top - extraHeight, c.height) << c.edge << ": " << c.clientHeight;
        // The corner opposite the edge stays.
        if (c.edge == WMSZ_TOPLEFT || c.edge == WMSZ_LEFT)
            EXPECT_EQ(r.right, proposed.right);
        else
            EXPECT_EQ(r.left, proposed.left);
        if (c.edge == WMSZ_TOPLEFT)
            EXPECT_EQ(r.bottom, proposed.bottom);
        else
            EXPECT_EQ(r.top, proposed.top);
        EXPECT_EQ(settings.clientWidth[0], c.width);
        EXPECT_EQ(settings.clientHeight[0], c.height);
        EXPECT_EQ(textOf(window), std::to_wstring(c.width) + L" x " + std::to_wstring(c.height));
    }
    ::SendMessageW(window, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(textOf(window), L"Picture test");
}

// The keys of the Linux window: F4 toggles the scaling, F3 always on top (told to the
// control window), F12 the debug console, Alt+Enter and Esc full screen.
TEST_F(Win32DisplayWindowTest, KeysDoWhatTheyDoOnLinux) {
    ::SendMessageW(window, WM_KEYDOWN, VK_F4, 0);
    tavrin::testing::pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(settings.pointScaling, 1);
    ::SendMessageW(window, WM_KEYDOWN, VK_F4, 0);
    tavrin::testing::pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(settings.pointScaling, 0);

    ::SendMessageW(window, WM_KEYDOWN, VK_F3, 0);
    tavrin::testing::pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(settings.alwaysOnTop, 1);
    EXPECT_TRUE(posted.saw(kTopmost));

    ::SendMessageW(window, WM_KEYDOWN, VK_F12, 0);
    EXPECT_TRUE(posted.saw(kCoreSysCommand));

    settings.clientWidth[0] = 256;
    ::SendMessageW(window, WM_SYSKEYDOWN, VK_RETURN, 1 << 29);
    EXPECT_TRUE(::IsZoomed(window));
    EXPECT_EQ(::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION, 0);
    EXPECT_TRUE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const SIZE full = clientSize(window);
    EXPECT_EQ(full.cx, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(full.cy, ::GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(settings.clientWidth[0], 256); // full screen saves no size
    // A press in full screen starts no drag.
    RECT before{};
    ::GetWindowRect(window, &before);
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    ::SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(60, 40));
    ::SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(60, 40));
    RECT after{};
    ::GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);

    ::SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(::IsZoomed(window));
    EXPECT_TRUE(::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION);
    const SIZE back = clientSize(window);
    EXPECT_EQ(back.cx, 256);
    EXPECT_EQ(back.cy, 384);
}

// Dragging the picture moves the window by as much as the cursor moved.
TEST_F(Win32DisplayWindowTest, DraggingThePictureMovesTheWindow) {
    RECT before{};
    ::GetWindowRect(window, &before);
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 60));
    ::SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(90, 40));
    ::SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(90, 40));
    RECT after{};
    ::GetWindowRect(window, &after);
    EXPECT_EQ(after.left - before.left, 40);
    EXPECT_EQ(after.top - before.top, -20);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    // Released: moving on moves nothing.
    ::SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    RECT still{};
    ::GetWindowRect(window, &still);
    EXPECT_EQ(still.left, after.left);
}

// The menu's commands through the layer: a quarter turn keeps the scale, in the new
// shape; closing the window asks the control window to end the program.
TEST_F(Win32DisplayWindowTest, CommandsReshapeTheWindowAndCloseGoesToTheControlWindow) {
    ::SetWindowPos(window, nullptr, 0, 0, 512 + extraWidth, 768 + extraHeight, SWP_NOMOVE | SWP_NOZORDER);
    ::SendMessageW(window, WM_COMMAND, display::ID_ROTATION_FIRST + 1, 0);
    EXPECT_EQ(options.picture.rotation, 90);
    SIZE turned = clientSize(window);
    EXPECT_EQ(turned.cx, 768);
    EXPECT_EQ(turned.cy, 512);
    EXPECT_EQ(settings.clientWidth[0], 768);
    EXPECT_EQ(settings.clientHeight[0], 512);
    ::SendMessageW(window, WM_COMMAND, display::ID_ROTATION_FIRST, 0);
    turned = clientSize(window);
    EXPECT_EQ(turned.cx, 512);
    EXPECT_EQ(turned.cy, 768);

    ::SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(::IsWindow(window)); // stays until the program ends
    EXPECT_TRUE(posted.saw(kCoreClose));
}

} // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32ControlWindow.h"

#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "base/Messages.h"
#include "device/FrameQueue.h"
#include "display/NoDisplays.h"
#include "platform/win32/Win32Messages.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Text.h"
#include "record/NoRecording.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
// The core's numbers, before windows.h makes WM_CLOSE its own (see Win32Messages.h).
constexpr uint32_t kUmDevice = tavrin::base::UM_DEVICE;
} // namespace

#include <windows.h>

#include "platform/win32/PumpMessages.h"

namespace {

using namespace tavrin;

using device::NoBoards;

std::wstring textOf(HWND window) {
    wchar_t text[520] = {};
    ::GetWindowTextW(window, text, 520);
    return text;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

using tavrin::testing::pumpUntil;

class Win32ControlWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Win32ControlWindowForTest();
        ASSERT_TRUE(window->create());
        dialog = window->handle();
        ASSERT_TRUE(dialog);
    }
    void Win32ControlWindowForTest() {
        HINSTANCE instance = ::GetModuleHandleW(nullptr);
        win32::Win32ControlWindow::registerClass(instance);
        window = std::make_unique<win32::Win32ControlWindow>(instance);
        app::ControlWindowLogic::Services services{*window, displays, recorder};
        logic = std::make_unique<app::ControlWindowLogic>(app, std::move(services));
        window->attach(*logic, [this] { initialisedCalls++; });
    }
    void TearDown() override {
        // A window still open goes now; the quit its going posts must not reach the next test.
        window.reset();
        MSG quit;
        while (::PeekMessageW(&quit, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND item(int id) const { return ::GetDlgItem(dialog, id); }
    std::wstring status() const { return textOf(item(app::IDC_STATUS)); }

    NoBoards boards;
    device::NoModifierKeys keys;
    app::CaptureApp app{boards, keys};
    display::NoDisplays displays{app.settings};
    record::NoRecording recorder;
    std::unique_ptr<win32::Win32ControlWindow> window;
    std::unique_ptr<app::ControlWindowLogic> logic;
    HWND dialog = nullptr;
    int initialisedCalls = 0;
};

TEST_F(Win32ControlWindowTest, TheDialogResourceHasEveryControlWhereTheLayoutPutsIt) {
    EXPECT_EQ(classOf(dialog), L"TavrinCapture ControlWindow");
    EXPECT_EQ(textOf(dialog), L"Tavrin Capture");
    EXPECT_EQ(initialisedCalls, 1);
    // The program icon is the class's.
    EXPECT_TRUE(::GetClassLongPtrW(dialog, GCLP_HICON));

    struct Control {
        int id;
        const wchar_t* cls;
        const wchar_t* text;
        RECT units; // x, y, width, height in dialog units
        LONG styleBits;
    };
    const Control controls[] = {
        {app::IDC_RECORD, L"Button", L"", {7, 7, 33, 30}, BS_CHECKBOX | BS_PUSHLIKE | BS_ICON | WS_TABSTOP},
        {app::IDC_SCREENSHOT, L"Button", L"", {46, 7, 34, 30}, BS_ICON | BS_VCENTER | WS_TABSTOP},
        {app::IDC_OUTPUT_FOLDER, L"Button", L"...", {85, 23, 18, 14}, WS_TABSTOP},
        {app::IDC_DISPLAY_MODE, L"ComboBox", nullptr, {7, 43, 117, 146}, CBS_DROPDOWNLIST | WS_TABSTOP},
        {app::IDC_VIDEO_SETTINGS, L"Button", L"&Video settings", {154, 7, 67, 14}, WS_TABSTOP},
        {app::IDC_AUDIO_SETTINGS, L"Button", L"&Audio settings", {154, 24, 67, 14}, WS_TABSTOP},
        {app::IDC_STATUS, L"Static", nullptr, {7, 62, 214, 35}, WS_GROUP},
    };
    HWND previous = nullptr;
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = item(c.id);
        ASSERT_TRUE(control);
        EXPECT_EQ(classOf(control), c.cls);
        if (c.text) {
            EXPECT_EQ(textOf(control), c.text);
        }
        EXPECT_EQ(static_cast<LONG>(::GetWindowLongPtrW(control, GWL_STYLE)) & c.styleBits, c.styleBits);
        // Tab order is the table's order.
        if (previous) {
            EXPECT_EQ(::GetWindow(previous, GW_HWNDNEXT), control);
        }
        previous = control;
        // Position and size are converted to pixels each on its own, as the dialog manager does.
        RECT expected = c.units;
        ::MapDialogRect(dialog, &expected);
        RECT actual{};
        ::GetWindowRect(control, &actual);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        if (c.id != app::IDC_DISPLAY_MODE) { // a closed drop-down list has the height of one line
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }
    }
    EXPECT_TRUE(::GetWindowLongPtrW(item(app::IDC_STATUS), GWL_EXSTYLE) & WS_EX_STATICEDGE);
    // 228 x 103 units of client area.
    RECT client{}, size{0, 0, 228, 103};
    ::GetClientRect(dialog, &client);
    ::MapDialogRect(dialog, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    // The buttons carry their icons from the program's resources.
    EXPECT_TRUE(::SendMessageW(item(app::IDC_RECORD), BM_GETIMAGE, IMAGE_ICON, 0));
    EXPECT_TRUE(::SendMessageW(item(app::IDC_SCREENSHOT), BM_GETIMAGE, IMAGE_ICON, 0));
}

TEST_F(Win32ControlWindowTest, TheLayerDrivesTheListTheStatusLineAndTheClose) {
    HWND list = item(app::IDC_DISPLAY_MODE);
    ASSERT_EQ(::SendMessageW(list, CB_GETCOUNT, 0, 0), 3);
    const wchar_t* items[] = {L"Single window", L"Split window", L"Pellan"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64] = {};
        ::SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, items[i]);
    }
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 0); // the stored layout 6, one window

    // Posted from another thread as a real window message, handled by the loop.
    std::thread([this] { window->messageTarget().postMessage(kUmDevice, 1, 0); }).join();
    EXPECT_TRUE(pumpUntil(dialog, [this] { return status() == L"Connected"; })) << win32::narrow(status());
    window->messageTarget().postMessage(kUmDevice, 0, 0);
    EXPECT_TRUE(pumpUntil(dialog, [this] { return status() == L"Not connected"; }));
    // A worker's status text is handed over to the window's thread.
    std::thread([this] { window->setStatusText("Saved C:\\x\\00000.png \xe2\x9c\x93"); }).join();
    EXPECT_TRUE(pumpUntil(dialog, [this] { return status() == L"Saved C:\\x\\00000.png \u2713"; }));

    // A pick in the list reaches the layer, which stores the layout.
    ::SendMessageW(list, CB_SETCURSEL, 2, 0);
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(app::IDC_DISPLAY_MODE, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(app.settings.displayMode, 7);
    EXPECT_EQ(app.settings.splitWindows, 0);
    // Keys in the open list move through it; the item is taken as it closes (Return).
    ::SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(::SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0));
    for (WPARAM key : {VK_HOME, VK_DOWN}) {
        ::SendMessageW(list, WM_KEYDOWN, key, 0);
        EXPECT_EQ(app.settings.displayMode, 7) << "key " << key;
    }
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
    ::SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(::SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_EQ(app.settings.displayMode, 6);
    EXPECT_EQ(app.settings.splitWindows, 1);
    // A click on a button is a command of the layer's table.
    ::SendMessageW(item(app::IDC_SCREENSHOT), BM_CLICK, 0, 0);
    EXPECT_TRUE(pumpUntil(dialog, [this] { return status().find(L"Screenshots") == 0; }));

    // WM_CLOSE from the window system closes the window through the layer and ends the loop.
    std::optional<WPARAM> quitSeen;
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(pumpUntil(
        dialog, [&] { return !::IsWindow(dialog) && quitSeen.has_value(); }, std::chrono::seconds(5),
        &quitSeen));
    EXPECT_TRUE(logic->destroyed());
    EXPECT_EQ(quitSeen, std::optional<WPARAM>(0));
}

TEST_F(Win32ControlWindowTest, EveryFrameGoesBackToThePoolHandledDroppedOrRefused) {
    using namespace std::chrono_literals;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    // Takes every frame there is and hands each to the window from another thread.
    const auto postAll = [&] {
        std::vector<device::FrameRef> frames;
        for (int i = 0; i < device::FramePool::kFrameCount; ++i) {
            frames.push_back(pool.take(0ms));
            ASSERT_TRUE(frames.back()) << "frame " << i << " is not back in the pool";
        }
        std::thread([&] {
            for (auto& frame : frames)
                window->messageTarget().postFrame(std::move(frame));
        }).join();
    };
    const auto allBack = [&] {
        std::vector<device::FrameRef> frames;
        for (int i = 0; i < device::FramePool::kFrameCount; ++i)
            if (!frames.emplace_back(pool.take(0ms)))
                return false;
        return true;
    };

    // Handled by the layer, which has no display windows to give them to.
    postAll();
    ASSERT_TRUE(pumpUntil(dialog, [] {
        MSG pending;
        return !::PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE);
    }));
    EXPECT_TRUE(allBack());
    // Still queued when the window goes.
    postAll();
    window->destroyWindow();
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_TRUE(allBack());
    // Refused: the window is gone.
    postAll();
    EXPECT_TRUE(allBack());
}

} // namespace

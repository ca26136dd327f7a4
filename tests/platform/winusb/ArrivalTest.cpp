// SPDX-License-Identifier: GPL-2.0-or-later
// The control window's device notifications on the WinUSB transport: a synthesized
// WM_DEVICECHANGE reaches the window as the system sends it, and only the arrival of
// the board's interface class opens the board, through the table of system calls.
#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "display/NoDisplays.h"
#include "platform/sim/SimulatedBoard.h"
#include "platform/win32/Win32ControlWindow.h"
#include "platform/win32/Win32Resources.h"
#include "platform/winusb/WinUsbTransport.h"
#include "record/NoRecording.h"

#include "fakes/FakeControlWindow.h"

#include "FakeWinUsb.h"
#include "platform/win32/PumpMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include <dbt.h>

namespace {

using namespace tavrin;
using tavrin::testing::FakeWinUsb;

std::wstring statusOf(HWND dialog) {
    wchar_t text[520] = {};
    ::GetDlgItemTextW(dialog, app::IDC_STATUS, text, 520);
    return text;
}

using tavrin::testing::pumpUntil;

sim::SimulatedBoard::Options unplugged() {
    sim::SimulatedBoard::Options options;
    options.present = false;
    options.framesPerSecond = 0;
    return options;
}

class Win32Arrival : public ::testing::Test {
  protected:
    void SetUp() override {
        HINSTANCE instance = ::GetModuleHandleW(nullptr);
        win32::Win32ControlWindow::registerClass(instance);
        window = std::make_unique<win32::Win32ControlWindow>(instance);
        app::ControlWindowLogic::Services services{*window, displays, recorder};
        logic = std::make_unique<app::ControlWindowLogic>(app, std::move(services));
        window->attach(*logic, [this] { app.capture.controlWindow.set(&window->messageTarget()); });
        ASSERT_TRUE(window->create());
        dialog = window->handle();
    }
    void TearDown() override {
        app.capture.controlWindow.set(nullptr);
        window.reset();
        MSG left;
        while (::PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // What the system sends for an interface of `interfaceClass`.
    LRESULT sendInterfaceNews(WPARAM event, const device::InterfaceClassId& interfaceClass) {
        DEV_BROADCAST_DEVICEINTERFACE_W record{};
        record.dbcc_size = sizeof record;
        record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        std::memcpy(&record.dbcc_classguid, interfaceClass.bytes.data(), sizeof(GUID));
        return ::SendMessageW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
    }
    int boardOpens() const {
        int n = 0;
        for (const std::string& call : system.calls())
            n += call.rfind("CreateFile ", 0) == 0;
        return n;
    }
    bool boardCurrent() {
        return app.capture.currentDevice.load() == &app.capture.boardDevice &&
               app.capture.boardDevice.state() == device::DEVICE_OPEN;
    }

    tavrin::testing::DiagnosticCapture diag; // the device's lines stay out of the test's output
    sim::SimulatedBoard board{unplugged()};
    FakeWinUsb system{board};
    winusb::WinUsbTransport transport{system};
    device::NoModifierKeys keys;
    app::CaptureApp app{transport, keys};
    display::NoDisplays displays{app.settings};
    record::NoRecording recorder;
    std::unique_ptr<win32::Win32ControlWindow> window;
    std::unique_ptr<app::ControlWindowLogic> logic;
    HWND dialog = nullptr;
};

TEST_F(Win32Arrival, OnlyTheBoardsInterfaceArrivingOpensTheBoard) {
    board.setPresent(true);
    device::InterfaceClassId other = device::kTavrinInterfaceClass;
    other.bytes[15] ^= 0x10;

    // News that is not the board's arrival: another class, a removal, a volume.
    sendInterfaceNews(DBT_DEVICEARRIVAL, other);
    sendInterfaceNews(DBT_DEVICEREMOVECOMPLETE, device::kTavrinInterfaceClass);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1 << 4;
    ::SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    ::SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(boardOpens(), 0);
    EXPECT_FALSE(boardCurrent());

    // The board's interface: the board is opened through WinUSB and the window says so.
    EXPECT_EQ(sendInterfaceNews(DBT_DEVICEARRIVAL, device::kTavrinInterfaceClass), FALSE);
    EXPECT_EQ(boardOpens(), 1);
    EXPECT_TRUE(boardCurrent());
    EXPECT_TRUE(pumpUntil(dialog, [this] { return statusOf(dialog) == L"Connected"; }));

    // Another class arriving now leaves the open board alone.
    sendInterfaceNews(DBT_DEVICEARRIVAL, other);
    EXPECT_TRUE(boardCurrent());
    EXPECT_EQ(boardOpens(), 1);
    pumpUntil(
        dialog, [] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(statusOf(dialog), L"Connected");

    {
        std::lock_guard lock(app.capture.appLock);
        app.capture.boardDevice.close();
    }
    EXPECT_EQ(system.handlesOpen(), 0);
    EXPECT_EQ(system.violations(), std::vector<std::string>{});
}

} // namespace

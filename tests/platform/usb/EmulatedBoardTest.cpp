// SPDX-License-Identifier: GPL-2.0-or-later
// The libusb transport and the hotplug watcher on the board emulated by
// tavrin-usb-emulator: real libusb, real usbdevfs requests, a faked bus. Each case
// runs in an emulator of its own (see CMakeLists.txt).
#include "device/DeviceArrival.h"
#include "device/FirmwareImage.h"
#include "device/TavrinDevice.h"
#include "platform/sim/SimulatedBoard.h"
#include "platform/usb/HotplugWatcher.h"
#include "platform/usb/LibusbTransport.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"

#include <gtest/gtest.h>

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace tavrin;
using namespace tavrin::device;
using namespace std::chrono_literals;

namespace {

// A fault for the emulator, applied when it has read the line. Nothing answers it:
// where no effect can be waited for, the 200 ms sleeps after it are the emulator's
// time to read it.
void fault(const std::string& line) {
    const char* control = std::getenv("TAVRIN_USB_EMULATOR_CONTROL");
    ASSERT_NE(control, nullptr) << "run under tavrin-usb-emulator";
    std::ofstream(control) << line << "\n";
}

using tavrin::testing::eventually;

struct Emulated : ::testing::Test {
    void SetUp() override {
        if (!std::getenv("TAVRIN_USB_EMULATOR_CONTROL"))
            GTEST_SKIP() << "needs tavrin-usb-emulator";
        link.set(&window);
        frame.data = std::make_unique<uint8_t[]>(kFrameBufferBytes);
    }
    void TearDown() override { link.set(nullptr); }

    tavrin::testing::DiagnosticCapture diag;
    tavrin::testing::FakeControlWindow window;
    base::MessageLink link;
    tavrin::testing::ArrivalRecorder arrivals;
    usb::LibusbTransport transport;
    NoModifierKeys keys;
    TavrinDevice device{transport, keys, link};
    CaptureFrame frame;
};

} // namespace

TEST_F(Emulated, FindsTheBoardByItsShapeClaimsItAndReadsWholePacketsAndFrames) {
    // Two devices on the bus; only the one with bulk IN 0x82 and 0x86 is a board.
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(transport.context(), &list);
    ASSERT_EQ(n, 2);
    int boards = 0;
    for (ssize_t i = 0; i < n; ++i) {
        if (usb::findBoardInterface(list[i]) < 0)
            continue;
        ++boards;
        EXPECT_EQ(libusb_get_max_packet_size(list[i], kFramePipe), 512);
    }
    libusb_free_device_list(list, 1);
    EXPECT_EQ(boards, 1);
    ASSERT_EQ(transport.listInterfaces(), std::vector<std::string>{"usb:1-1:0"});

    ASSERT_TRUE(device.open(nullptr)) << diag.text();
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_NE(diag.text().find("fwVer=4\n"), std::string::npos)
        << "the version came by a control IN transfer";

    // Whole frames, the board's own picture, each a little further on.
    std::vector<uint8_t> expected(kPictureBytes);
    std::vector<uint8_t> first;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(device.readFrame(frame), FRAME_OK) << diag.text();
        if (i == 0)
            first.assign(frame.data.get(), frame.data.get() + kPictureBytes);
    }
    sim::SimulatedBoard::renderPicture(0, expected.data());
    EXPECT_EQ(first, expected);
    EXPECT_FALSE(std::equal(first.begin(), first.end(), frame.data.get())) << "the picture moves";

    // A short read ends with a short packet; a read of 1000 bytes asks for one whole packet.
    fault("short:1000");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(device.readFrame(frame), FRAME_SKIP);
    EXPECT_NE(diag.text().find("1000:"), std::string::npos);
    device.close();
    auto connection = transport.open("usb:1-1:0");
    ASSERT_TRUE(connection);
    connection->setPipeTimeout(kControlPipe, 100);
    connection->setPipeTimeout(kFramePipe, 100);
    UsbSetup start{0x40, 0x30, 0, 0, 0};
    ASSERT_TRUE(connection->controlTransfer(start, nullptr).ok);
    std::vector<uint8_t> small(1000);
    const TransferResult r = connection->readPipe(kFramePipe, small.data(), 1000);
    EXPECT_EQ(r.transferred, 512u);
    EXPECT_EQ(r.error, UsbError::None);
    // The status read stays outstanding until the board answers it (about once a second).
    uint8_t status[8];
    EXPECT_TRUE(connection->startAsyncRead(kStatusPipe, status, 8));
    EXPECT_TRUE(connection->asyncReadPending(kStatusPipe));
    EXPECT_TRUE(eventually([&] {
        connection->controlTransfer(start, nullptr); // runs libusb's event handling
        connection->readPipe(kFramePipe, small.data(), 512);
        return !connection->asyncReadPending(kStatusPipe);
    }));
}

TEST_F(Emulated, TimeOutsKeepTheBytesThatArrivedAndEmptyReadsAreErrors) {
    ASSERT_TRUE(device.open(nullptr)) << diag.text();
    ASSERT_EQ(device.readFrame(frame), FRAME_OK);

    // 64 packets arrive, then nothing: libusb's time-out ends the read with what arrived.
    fault("stall:32768");
    std::this_thread::sleep_for(200ms);
    device.close();
    auto connection = transport.open("usb:1-1:0");
    ASSERT_TRUE(connection);
    connection->setPipeTimeout(kControlPipe, 100);
    connection->setPipeTimeout(kFramePipe, 300);
    UsbSetup start{0x40, 0x30, 0, 0, 0};
    ASSERT_TRUE(connection->controlTransfer(start, nullptr).ok);
    const auto before = std::chrono::steady_clock::now();
    const TransferResult r = connection->readPipe(kFramePipe, frame.data.get(), kFrameBufferBytes);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 250ms);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, UsbError::Timeout);
    EXPECT_EQ(r.transferred, 32768u);
    connection.reset();

    // An empty read and a start request that times out, through the device.
    ASSERT_TRUE(device.open(nullptr));
    fault("empty");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(device.readFrame(frame), FRAME_ERROR);
    EXPECT_NE(diag.text().find("0:"), std::string::npos);
    fault("start-timeout");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(device.readFrame(frame), FRAME_SKIP);
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(device.readFrame(frame), FRAME_OK);
}

TEST_F(Emulated, UnplugGivesNoDeviceAndReplugPostsAnArrival) {
    usb::HotplugWatcher watcher(arrivals.handler(), 100ms);
    ASSERT_TRUE(watcher.start()) << diag.text();
    ASSERT_TRUE(device.open(nullptr));
    ASSERT_EQ(device.readFrame(frame), FRAME_OK);

    fault("unplug");
    // The next frame request finds the board gone: the device closes itself.
    ASSERT_TRUE(eventually([&] {
        device.readFrame(frame);
        return device.state() == DEVICE_CLOSED;
    }));
    EXPECT_TRUE(transport.listInterfaces().empty());
    EXPECT_TRUE(arrivals.arrivals().empty());

    fault("replug");
    ASSERT_TRUE(eventually([&] { return arrivals.arrivals().size() == 1; })) << "no arrival was reported";
    const device::DeviceArrival arrival = arrivals.arrivals().back();
    EXPECT_EQ(arrival.interfaceClass, kTavrinInterfaceClass);
    ASSERT_TRUE(device.open(&arrival.interfaceClass));
    EXPECT_EQ(device.readFrame(frame), FRAME_OK);
}

TEST_F(Emulated, BoardWithoutPermissionIsToldWithItsFix) {
    ASSERT_EQ(transport.listInterfaces().size(), 1u) << "the board is on the bus";
    EXPECT_FALSE(device.open(nullptr));
    EXPECT_EQ(transport.lastOpenFailure(), OpenFailure::NoPermission);
    const std::vector<uintptr_t> notices = window.deviceNotices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), base::kDeviceNoPermission) << "after the closes, the notice that names the fix";
    EXPECT_EQ(std::count(notices.begin(), notices.end(), base::kDeviceNoPermission), 1);
    EXPECT_NE(diag.text().find("permission denied; install the udev rule"), std::string::npos);
}

TEST_F(Emulated, FirmwareUpdateGoesAsControlTransfersOfAtMost4096Bytes) {
    usb::HotplugWatcher watcher(arrivals.handler(), 100ms);
    ASSERT_TRUE(watcher.start());
    // A record of 6000 bytes, more than one control transfer can carry.
    std::vector<uint8_t> image = {0xC2, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> data(6000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13);
    tavrin::testing::appendFirmwareRecord(image, 6000, 0x0000, data);
    tavrin::testing::appendFirmwareRecord(image, 0x8001, kCpuResetRegister, {0x00});
    tavrin::testing::FakeInflater inflater(image);
    device.setFirmwareImage(tavrin::testing::kFakeContainer, &inflater);

    ASSERT_TRUE(device.open(nullptr));
    ASSERT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
    ASSERT_EQ(device.updateFirmware({}), FW_OK) << diag.text();
    EXPECT_EQ(device.state(), DEVICE_CLOSED);

    // The new firmware left the bus; the board comes back with it and opens normally.
    ASSERT_TRUE(eventually([&] { return !arrivals.arrivals().empty(); }));
    ASSERT_TRUE(device.open(nullptr)) << diag.text();
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(device.readFrame(frame), FRAME_OK);
}

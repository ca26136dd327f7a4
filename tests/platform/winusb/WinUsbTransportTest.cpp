// SPDX-License-Identifier: GPL-2.0-or-later
// The WinUSB transport's own logic, with the simulated board answering in the
// system's place through FakeWinUsb; and the system's own calls, which under Wine
// find no board.
#include "platform/winusb/WinUsbTransport.h"

#include "base/Messages.h"
#include "base/TextCodec.h"
#include "device/CaptureFrame.h"
#include "device/FirmwareImage.h"
#include "device/TavrinDevice.h"
#include "device/VendorRequests.h"
#include "platform/sim/SimulatedBoard.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"

#include "FakeWinUsb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

using namespace tavrin;
using namespace tavrin::device;
using namespace std::chrono_literals;
using tavrin::testing::FakeWinUsb;

namespace {

std::string narrow(const std::wstring& wide) {
    return base::utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

const std::string kBoardPath = narrow(FakeWinUsb::pathOf(sim::SimulatedBoard::kPath));

sim::SimulatedBoard::Options boardOptions(uint16_t version = 4) {
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0; // a frame whenever one is asked for
    options.version = version;
    options.reconnectDelay = 20ms;
    return options;
}

// The calls of `system` from the `from`th on that start with one of `names`.
std::vector<std::string> callsNamed(const FakeWinUsb& system, std::initializer_list<const char*> names,
                                    std::size_t from = 0) {
    std::vector<std::string> out;
    const std::vector<std::string> calls = system.calls();
    for (std::size_t i = from; i < calls.size(); ++i)
        for (const char* name : names)
            if (calls[i].rfind(name, 0) == 0)
                out.push_back(calls[i]);
    return out;
}

class WinUsb : public ::testing::Test {
  protected:
    explicit WinUsb(uint16_t version = 4) : board(boardOptions(version)) {}
    void SetUp() override {
        link.set(&window);
        frame.data = std::make_unique<uint8_t[]>(kFrameBufferBytes);
    }
    void TearDown() override {
        device.close();
        link.set(nullptr);
        EXPECT_EQ(system.handlesOpen(), 0) << "every set, file, WinUSB handle and event let go";
        EXPECT_EQ(system.violations(), std::vector<std::string>{});
    }
    UsbSetup startFrame() const { return {kVendorRequestOut, kRequestOutStartFrame, 0, 0, 0}; }

    sim::SimulatedBoard board;
    FakeWinUsb system{board};
    winusb::WinUsbTransport transport{system};
    tavrin::testing::DiagnosticCapture diag;
    tavrin::testing::FakeControlWindow window;
    base::MessageLink link;
    NoModifierKeys keys;
    TavrinDevice device{transport, keys, link};
    CaptureFrame frame;
};

TEST_F(WinUsb, FindsTheClassInterfacesInOrderAndUsesTheFirstThatOpens) {
    system.addInterface({L"\\\\?\\usb#unplugged", ERROR_FILE_NOT_FOUND, 0, false});
    system.addInterface({L"\\\\?\\usb#no-path", 0, 0, true});
    system.addInterface({L"\\\\?\\usb#other-driver", 0, ERROR_NOT_SUPPORTED, false});
    EXPECT_EQ(transport.listInterfaces(),
              (std::vector<std::string>{"\\\\?\\usb#unplugged", "\\\\?\\usb#other-driver", kBoardPath}));
    EXPECT_EQ(system.handlesOpen(), 0) << "the device information set is destroyed";

    ASSERT_TRUE(device.open(nullptr)) << diag.text();
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(callsNamed(system, {"CreateFile"}),
              (std::vector<std::string>{"CreateFile \\\\?\\usb#unplugged",
                                        "CreateFile \\\\?\\usb#other-driver", "CreateFile " + kBoardPath}));
    EXPECT_NE(diag.text().find("is WinUSB the board's driver?"), std::string::npos) << diag.text();
    EXPECT_NE(diag.text().find("fwVer=4\n"), std::string::npos);
    EXPECT_EQ(system.handlesOpen(), 2) << "only the board's file and WinUSB handle stay open";

    // The pipes' policies: 100 ms on the control and frame pipes, none on the status pipe.
    EXPECT_EQ(system.pipeTimeout(kControlPipe), 100);
    EXPECT_EQ(system.pipeTimeout(kFramePipe), 100);
    EXPECT_EQ(system.pipeTimeout(kStatusPipe), 0);
    EXPECT_EQ(system.rawIo(kFramePipe), 1);
    EXPECT_EQ(board.pipeTimeout(kFramePipe), 100u);

    device.close();
    EXPECT_EQ(board.openConnections(), 0);
}

TEST_F(WinUsb, ControlTransfersCarryDataBothWays) {
    std::vector<uint8_t> memory(5000);
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<uint8_t>(i * 7 + 3);
    board.writeFirmwareMemory(0x1000, memory);
    {
        auto connection = transport.open(kBoardPath);
        ASSERT_TRUE(connection);
        ASSERT_TRUE(connection->setPipeTimeout(kControlPipe, 100));
        // OUT with a data stage: the address, high byte first.
        uint8_t address[2] = {0x10, 0x10};
        TransferResult r = connection->controlTransfer(
            {kVendorRequestOut, kRequestOutMemory, kFirmwareMemory, 0, 2}, address);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.transferred, 2u);
        // IN: the memory from there.
        uint8_t got[16] = {};
        r = connection->controlTransfer({kVendorRequestIn, kRequestInMemory, kFirmwareMemory, 0, 16}, got);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.transferred, 16u);
        EXPECT_TRUE(std::equal(got, got + 16, memory.begin() + 16));
        // IN answered short: the count says so.
        board.queueShortMemoryRead(5);
        r = connection->controlTransfer({kVendorRequestIn, kRequestInMemory, kFirmwareMemory, 0, 16}, got);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.transferred, 5u);
        // A request the board refuses.
        r = connection->controlTransfer({kVendorRequestIn, 0x77, 0, 0, 2}, got);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.transferred, 0u);
    }

    // Through the device: the version word and a read of more than one transfer.
    board.setVersion(0x0305);
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_NE(diag.text().find("fwVer=773\n"), std::string::npos) << diag.text();
    std::vector<uint8_t> read(memory.size());
    ASSERT_TRUE(device.memoryRead(0x1000, static_cast<uint32_t>(read.size()), read.data()));
    EXPECT_EQ(read, memory);
}

TEST_F(WinUsb, WholeFramesComeWhileOneStatusReadStaysOutstanding) {
    ASSERT_TRUE(device.open(nullptr));
    std::vector<uint8_t> first;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(device.readFrame(frame), FRAME_OK) << diag.text();
        if (i == 0)
            first.assign(frame.data.get(), frame.data.get() + kPictureBytes);
    }
    std::vector<uint8_t> expected(kPictureBytes);
    sim::SimulatedBoard::renderPicture(0, expected.data());
    EXPECT_EQ(first, expected);
    EXPECT_FALSE(std::equal(first.begin(), first.end(), frame.data.get())) << "the picture moves";
    // Each read asks for the whole buffer, 385 packets, which RAW_IO takes.
    EXPECT_EQ(system.readLengths(kFramePipe), std::vector<ULONG>(3, static_cast<ULONG>(kFrameBufferBytes)));

    // One status read for the three frames; once the board answers it, the next frame starts another.
    EXPECT_EQ(board.statusReadsStarted(), 1);
    EXPECT_EQ(callsNamed(system, {"WinUsb_ReadPipe", "CreateEvent"}),
              (std::vector<std::string>{"CreateEvent manual", "WinUsb_ReadPipe 134 overlapped"}));
    board.completeStatusRead();
    ASSERT_EQ(device.readFrame(frame), FRAME_OK);
    EXPECT_EQ(board.statusReadsStarted(), 2);

    // Closing cancels the outstanding read and waits for its end before WinUSB and the handles go.
    const std::size_t before = system.calls().size();
    device.close();
    EXPECT_EQ(callsNamed(system,
                         {"WinUsb_AbortPipe", "WinUsb_GetOverlappedResult", "WinUsb_Free", "CloseHandle"},
                         before),
              (std::vector<std::string>{"WinUsb_AbortPipe 134", "WinUsb_GetOverlappedResult wait",
                                        "WinUsb_Free", "CloseHandle event", "CloseHandle file"}));
}

TEST_F(WinUsb, ShortReadsTimeOutsAndEmptyReadsKeepTheBytesThatArrived) {
    ASSERT_TRUE(device.open(nullptr));
    struct Case {
        const char* what;
        std::function<void()> fault;
        int outcome;
        const char* logged;
    };
    const Case cases[] = {
        {"one byte short", [&] { board.queueShortReads({kPictureBytes - 1}); }, FRAME_SKIP, "196607:"},
        {"nothing", [&] { board.queueShortReads({0}); }, FRAME_ERROR, "0:"},
        {"stalled after 64 packets", [&] { board.queueStalledReads({32768}); }, FRAME_SKIP, "32768:"},
        {"start request timed out", [&] { board.queueStartTimeouts(1); }, FRAME_SKIP, nullptr},
        {"start request refused", [&] { system.failNextTransfer(ERROR_INVALID_PARAMETER); }, FRAME_ERROR,
         nullptr},
        {"whole again", [] {}, FRAME_OK, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        diag.clear();
        c.fault();
        EXPECT_EQ(device.readFrame(frame), c.outcome);
        EXPECT_EQ(device.state(), DEVICE_OPEN);
        if (c.logged) {
            EXPECT_NE(diag.text().find(c.logged), std::string::npos) << diag.text();
        }
    }
    device.close();

    // Straight through the connection: a time-out still counts what arrived, and a
    // buffer that is not whole packets is read as the whole packets it holds.
    auto connection = transport.open(kBoardPath);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->setPipeTimeout(kFramePipe, 150));
    ASSERT_TRUE(connection->setRawIo(kFramePipe, true));
    board.queueStalledReads({32768});
    ASSERT_TRUE(connection->controlTransfer(startFrame(), nullptr).ok);
    const auto before = std::chrono::steady_clock::now();
    TransferResult r = connection->readPipe(kFramePipe, frame.data.get(), kFrameBufferBytes);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 140ms)
        << "the board's stall lasts the pipe's time-out";
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, UsbError::Timeout);
    EXPECT_EQ(r.transferred, 32768u);
    board.queueShortReads({1000});
    ASSERT_TRUE(connection->controlTransfer(startFrame(), nullptr).ok);
    r = connection->readPipe(kFramePipe, frame.data.get(), 1500);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.transferred, 1000u);
    EXPECT_EQ(system.readLengths(kFramePipe).back(), 1024u);
}

TEST_F(WinUsb, SystemErrorsMapOntoTheTransportsOwn) {
    auto connection = transport.open(kBoardPath);
    ASSERT_TRUE(connection);
    struct Case {
        DWORD code;
        UsbError error;
    };
    const Case cases[] = {
        {ERROR_SEM_TIMEOUT, UsbError::Timeout},     {ERROR_GEN_FAILURE, UsbError::Gone},
        {ERROR_BAD_COMMAND, UsbError::Gone},        {ERROR_DEVICE_NOT_CONNECTED, UsbError::Gone},
        {ERROR_INVALID_HANDLE, UsbError::Gone},     {ERROR_INVALID_PARAMETER, UsbError::Other},
        {ERROR_OPERATION_ABORTED, UsbError::Other}, {ERROR_ACCESS_DENIED, UsbError::Other},
    };
    uint8_t buffer[512];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(winusb::usbErrorOf(c.code), c.error);
        system.failNextTransfer(c.code);
        TransferResult r = connection->controlTransfer(startFrame(), nullptr);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
        system.failNextTransfer(c.code);
        r = connection->readPipe(kFramePipe, buffer, sizeof buffer);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
    }
    ASSERT_TRUE(connection->controlTransfer(startFrame(), nullptr).ok) << "the faults were one transfer each";
}

TEST_F(WinUsb, ABoardPulledOutMidReadClosesTheDeviceAndItsHandles) {
    board.setFramesPerSecond(5); // each frame waits 200 ms for its time
    ASSERT_TRUE(device.open(nullptr));
    ASSERT_EQ(device.readFrame(frame), FRAME_OK);

    std::atomic<int> outcome{-1};
    std::thread reader([&] { outcome = device.readFrame(frame); });
    std::this_thread::sleep_for(50ms);
    board.setPresent(false);
    reader.join();
    EXPECT_EQ(outcome.load(), FRAME_ERROR) << "nothing of that frame arrived";
    // The next start request finds the board gone: the device closes itself.
    EXPECT_EQ(device.readFrame(frame), FRAME_ERROR);
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    ASSERT_FALSE(window.deviceNotices().empty());
    EXPECT_EQ(window.deviceNotices().back(), 0u);
    EXPECT_EQ(system.handlesOpen(), 0);
    EXPECT_TRUE(transport.listInterfaces().empty());
    EXPECT_FALSE(device.open(nullptr));
}

TEST_F(WinUsb, AccessDeniedAtOpenIsNoPermissionAndOtherFailuresAreNot) {
    board.setOpenRefused(true);
    EXPECT_FALSE(device.open(nullptr));
    EXPECT_EQ(transport.lastOpenFailure(), OpenFailure::NoPermission);
    ASSERT_FALSE(window.deviceNotices().empty());
    EXPECT_EQ(window.deviceNotices().back(), base::kDeviceNoPermission);
    EXPECT_NE(diag.text().find("access denied"), std::string::npos) << diag.text();

    EXPECT_EQ(transport.open("\\\\?\\usb#not-there"), nullptr);
    EXPECT_EQ(transport.lastOpenFailure(), OpenFailure::Other);
    board.setOpenRefused(false);
    EXPECT_TRUE(transport.open(kBoardPath));
    EXPECT_EQ(transport.lastOpenFailure(), OpenFailure::None);
}

class WinUsbFirmware : public WinUsb {
  protected:
    WinUsbFirmware() : WinUsb(1) {}
};

TEST_F(WinUsbFirmware, TheUpdateGoesThroughWinUsbAndTheBoardComesBackWithIt) {
    std::atomic<int> arrivals{0};
    board.setArrivalObserver([&] { ++arrivals; });
    const std::vector<uint8_t> image = tavrin::testing::makeFirmwareTestImage();
    tavrin::testing::FakeInflater inflater(image);
    device.setFirmwareImage(tavrin::testing::kFakeContainer, &inflater);

    ASSERT_TRUE(device.open(nullptr));
    ASSERT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
    EXPECT_EQ(system.pipeTimeout(kFramePipe), -1)
        << "a board asking for firmware gets no frame pipe policies";
    // Read-backs the board stalls while it programs come back as failures the update retries.
    board.refuseReadBacks(3);
    ASSERT_EQ(device.updateFirmware({}), FW_OK) << diag.text();
    EXPECT_EQ(system.pipeTimeout(kControlPipe), 500);
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    const std::vector<uint8_t> memory = board.firmwareMemory();
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    EXPECT_TRUE(
        std::equal(copy.bytes.begin(), copy.bytes.begin() + static_cast<long>(copy.total), memory.begin()));

    // The new firmware left the bus; it comes back and opens as an ordinary board.
    ASSERT_TRUE(tavrin::testing::eventually([&] { return arrivals.load() == 1; }));
    ASSERT_TRUE(device.open(&kTavrinInterfaceClass)) << diag.text();
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(device.readFrame(frame), FRAME_OK);
}

TEST(WinUsbOnThisSystem, TheSystemsOwnCallsFindNoBoardAndNothingBreaks) {
    tavrin::testing::DiagnosticCapture diag;
    winusb::WinUsbTransport transport;
    EXPECT_EQ(transport.listInterfaces(), std::vector<std::string>{});
    EXPECT_EQ(transport.open("\\\\?\\usb#vid_0000&pid_0000#none#{a0b880f6-d6a5-4700-a8ea-22282aca5587}"),
              nullptr);
    EXPECT_EQ(transport.lastOpenFailure(), OpenFailure::Other) << diag.text();

    tavrin::testing::FakeControlWindow window;
    base::MessageLink link;
    link.set(&window);
    NoModifierKeys keys;
    TavrinDevice device(transport, keys, link);
    EXPECT_FALSE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    ASSERT_FALSE(window.deviceNotices().empty());
    EXPECT_EQ(window.deviceNotices().back(), 0u);
    link.set(nullptr);
}

} // namespace

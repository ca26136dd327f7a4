// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/TavrinDevice.h"

#include "fakes/FakeControlWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tavrin;
using namespace tavrin::device;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::FakeControlWindow;

namespace {

class HeldKeys : public ModifierKeys {
  public:
    bool held = false;
    bool ctrlAndAltHeld() const override { return held; }
};

struct DeviceFixture : ::testing::Test {
    DeviceFixture() { link.set(&window); }
    ~DeviceFixture() override { link.set(nullptr); }

    sim::SimulatedBoard board{sim::SimulatedBoard::Options{0, 4, true}};
    HeldKeys keys;
    FakeControlWindow window;
    base::MessageLink link;
    TavrinDevice device{board, keys, link};
    DiagnosticCapture diag;
    std::unique_ptr<uint8_t[]> buffer{new uint8_t[kFrameBufferBytes]};

    int read() {
        CaptureFrame frame;
        frame.data.reset(new uint8_t[kFrameBufferBytes]);
        return device.readFrame(frame);
    }
};

} // namespace

TEST_F(DeviceFixture, OpensABoardWithCurrentFirmwareAndSetsItsPipes) {
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(window.deviceNotices().back(), 1u);
    EXPECT_EQ(board.pipeTimeout(kControlPipe), 100u);
    EXPECT_EQ(board.pipeTimeout(kFramePipe), 100u);
    EXPECT_EQ(board.pipeTimeout(kStatusPipe), 0u);
    const std::string text = diag.text();
    EXPECT_NE(text.find(std::string("opening ") + sim::SimulatedBoard::kPath + "\n"), std::string::npos);
    EXPECT_NE(text.find("fwVer=4\nTavrin open\n"), std::string::npos);
}

TEST_F(DeviceFixture, VersionOneNeedsFirmwareWithoutTouchingTheDataPipes) {
    board.setVersion(1);
    board.setFramesPerSecond(0);
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
    for (uintptr_t notice : window.deviceNotices())
        EXPECT_EQ(notice, 0u) << "no 'connected' notice for a board that needs firmware";
    EXPECT_EQ(board.pipeTimeout(kFramePipe), 0u);
    EXPECT_EQ(board.openConnections(), 1) << "the interface stays open for the update";
    EXPECT_NE(diag.text().find("fwVer=1\n"), std::string::npos);
}

TEST_F(DeviceFixture, FailingVersionRequestReadsAsZeroAndOpensNormally) {
    board.setVersion(std::nullopt);
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_NE(diag.text().find("fwVer=0\n"), std::string::npos);
}

TEST_F(DeviceFixture, CtrlAndAltForceTheFirmwareUpdateWhateverTheVersion) {
    keys.held = true;
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
    EXPECT_NE(diag.text().find("fwVer=4\n(ctrl+alt) forced update\n"), std::string::npos);
}

TEST_F(DeviceFixture, ForeignInterfaceClassIsRefusedWithoutTouchingTheBoard) {
    ASSERT_TRUE(device.open(nullptr));
    window.clear();
    const auto before = board.controlRequests().size();
    InterfaceClassId other = kTavrinInterfaceClass;
    other.bytes[15] ^= 1;
    EXPECT_FALSE(device.open(&other));
    EXPECT_EQ(device.state(), DEVICE_OPEN) << "the open board is left alone";
    EXPECT_EQ(board.controlRequests().size(), before);
    EXPECT_TRUE(window.messages().empty());
    // The board's own class is accepted.
    EXPECT_TRUE(device.open(&kTavrinInterfaceClass));
}

TEST_F(DeviceFixture, NoBoardOrUnopenableBoardLeavesItClosedAndSaysSo) {
    board.setPresent(false);
    EXPECT_FALSE(device.open(nullptr));
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    board.setPresent(true);
    board.setOpenRefused(true);
    EXPECT_FALSE(device.open(nullptr));
    EXPECT_EQ(board.openConnections(), 0);
    for (uintptr_t notice : window.deviceNotices())
        EXPECT_EQ(notice, 0u);
}

TEST_F(DeviceFixture, CloseAlwaysPostsNotConnected) {
    device.close();
    device.close();
    EXPECT_EQ(window.deviceNotices(), (std::vector<uintptr_t>{0, 0}));
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
}

TEST_F(DeviceFixture, FrameOutcomeFollowsTheByteCount) {
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(read(), FRAME_OK);
    board.queueShortReads({196608, 196607, 0, 512});
    EXPECT_EQ(read(), FRAME_OK);
    EXPECT_EQ(read(), FRAME_SKIP);
    EXPECT_EQ(read(), FRAME_ERROR);
    EXPECT_EQ(read(), FRAME_SKIP);
    EXPECT_NE(diag.text().find("196607:0:512:"), std::string::npos);
    EXPECT_EQ(device.state(), DEVICE_OPEN) << "short reads do not close the board";
}

TEST_F(DeviceFixture, StartRequestTimeoutIsASkipAndOtherFailuresAnError) {
    ASSERT_TRUE(device.open(nullptr));
    board.queueStartTimeouts(1);
    EXPECT_EQ(read(), FRAME_SKIP);
    board.queueStartFailures(1);
    EXPECT_EQ(read(), FRAME_ERROR);
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_EQ(read(), FRAME_OK);
}

TEST_F(DeviceFixture, KeepsExactlyOneStatusReadOutstanding) {
    ASSERT_TRUE(device.open(nullptr));
    read();
    read();
    read();
    EXPECT_EQ(board.statusReadsStarted(), 1);
    board.completeStatusRead();
    read();
    EXPECT_EQ(board.statusReadsStarted(), 2);
}

TEST_F(DeviceFixture, VanishedBoardClosesItselfAndReadsBecomeErrors) {
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(read(), FRAME_OK);
    window.clear();
    board.setPresent(false);
    EXPECT_EQ(read(), FRAME_ERROR);
    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    EXPECT_EQ(window.deviceNotices(), (std::vector<uintptr_t>{0}));
    EXPECT_EQ(board.openConnections(), 0);
    // Back on the bus, it opens again.
    board.setPresent(true);
    EXPECT_TRUE(device.open(&kTavrinInterfaceClass));
    EXPECT_EQ(read(), FRAME_OK);
}

TEST_F(DeviceFixture, MemoryReadSendsTheAddressOnceThenReadsInChunks) {
    std::vector<uint8_t> content(10000);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    board.writeFirmwareMemory(0x1234, content);
    ASSERT_TRUE(device.open(nullptr));
    const auto before = board.controlRequests().size();

    std::vector<uint8_t> out(content.size());
    ASSERT_TRUE(device.memoryRead(0x1234, static_cast<uint32_t>(out.size()), out.data()));
    EXPECT_EQ(out, content) << "read from 0x1234, so the address went high byte first";
    const auto requests = board.controlRequests();
    ASSERT_EQ(requests.size(), before + 4);
    EXPECT_EQ(requests[before].requestType, 0x40);
    EXPECT_EQ(requests[before].request, 0x21);
    EXPECT_EQ(requests[before].value, 0x00A2);
    EXPECT_EQ(requests[before].length, 2);
    const uint16_t chunks[3] = {4096, 4096, 1808};
    for (int i = 0; i < 3; ++i) {
        const auto& r = requests[before + 1 + i];
        EXPECT_EQ(r.requestType, 0xC0);
        EXPECT_EQ(r.request, 0x21);
        EXPECT_EQ(r.value, 0x00A2);
        EXPECT_EQ(r.length, chunks[i]);
    }

    // Nothing to read: only the address goes out.
    EXPECT_TRUE(device.memoryRead(0x0000, 0, out.data()));
    EXPECT_EQ(board.controlRequests().size(), before + 5);

    // A chunk that comes back short fails the read at once.
    board.queueShortMemoryRead(4095);
    EXPECT_FALSE(device.memoryRead(0x1234, 8192, out.data()));
    EXPECT_EQ(board.controlRequests().size(), before + 7);
}

TEST_F(DeviceFixture, MemoryReadFailsWhenTheAddressCannotBeSent) {
    uint8_t out[8];
    EXPECT_FALSE(device.memoryRead(0x1234, 8, out)) << "no board open";
    board.setVersion(1);
    ASSERT_TRUE(device.open(nullptr));
    board.setPresent(false);
    EXPECT_FALSE(device.memoryRead(0x1234, 8, out));
}

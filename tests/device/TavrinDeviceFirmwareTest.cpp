// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FirmwareImage.h"
#include "device/TavrinDevice.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::device;
using namespace std::chrono_literals;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::eventually;
using tavrin::testing::FakeControlWindow;
using tavrin::testing::FakeInflater;
using tavrin::testing::kFakeContainer;
using tavrin::testing::makeFirmwareTestImage;

namespace {

sim::SimulatedBoard::Options blankBoard() {
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    options.version = 1;
    options.updatedVersion = 7;
    options.reconnectDelay = 0ms;
    return options;
}

struct FirmwareFixture : ::testing::Test {
    FirmwareFixture() {
        link.set(&window);
        device.setFirmwareImage(kFakeContainer, &inflater);
        EXPECT_TRUE(device.open(nullptr));
        EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
        window.clear();
    }
    ~FirmwareFixture() override { link.set(nullptr); }

    int update() {
        return device.updateFirmware([this](int perMille) {
            progress.push_back(perMille);
            pagesAtProgress.push_back(board.pageWrites().size());
        });
    }

    DiagnosticCapture diag;
    FakeControlWindow window;
    sim::SimulatedBoard board{blankBoard()};
    NoModifierKeys keys;
    base::MessageLink link;
    FakeInflater inflater{makeFirmwareTestImage()};
    TavrinDevice device{board, keys, link};
    std::vector<int> progress;
    std::vector<std::size_t> pagesAtProgress;
};

std::vector<uint16_t> allPagesFromTheTop() {
    std::vector<uint16_t> pages;
    for (int p = 4608; p >= 0; p -= 32)
        pages.push_back(static_cast<uint16_t>(p));
    return pages;
}

} // namespace

TEST_F(FirmwareFixture, WritesAllPagesFromTheTopThenLoadsTheProcessorAndLeavesTheBus) {
    ASSERT_EQ(update(), FW_OK);

    EXPECT_EQ(board.pageWrites(), allPagesFromTheTop()) << "145 pages, from 4,608 down to 0";
    const FirmwareWorkingCopy copy = makeWorkingCopy(makeFirmwareTestImage());
    const std::vector<uint8_t> memory = board.firmwareMemory();
    EXPECT_TRUE(std::equal(copy.bytes.begin(), copy.bytes.end(), memory.begin()))
        << "the firmware memory holds the working copy byte for byte";
    EXPECT_EQ(board.pipeTimeout(kControlPipe), 500u);

    // Reset, the records in order, and last the byte that lets the processor run.
    const auto writes = board.processorWrites();
    ASSERT_EQ(writes.size(), 7u);
    EXPECT_EQ(writes.front(), (std::pair<uint16_t, uint16_t>{0xE600, 1}));
    EXPECT_EQ(writes[1], (std::pair<uint16_t, uint16_t>{0x0000, 1023}));
    EXPECT_EQ(writes[5], (std::pair<uint16_t, uint16_t>{0x1000, 451}));
    EXPECT_EQ(writes.back(), (std::pair<uint16_t, uint16_t>{0xE600, 1}));
    const auto cpu = board.processorMemory();
    EXPECT_TRUE(std::equal(copy.bytes.begin() + 12, copy.bytes.begin() + 12 + 1023, cpu.begin()));
    EXPECT_FALSE(board.processorHeld());

    EXPECT_EQ(device.state(), DEVICE_CLOSED);
    EXPECT_EQ(window.deviceNotices(), (std::vector<uintptr_t>{0}));
    EXPECT_EQ(board.openConnections(), 0);
    EXPECT_EQ(diag.count("retry"), 0);
}

TEST_F(FirmwareFixture, ProgressReachesOneThousandBeforeTheHeaderPageIsWritten) {
    ASSERT_EQ(update(), FW_OK);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(pagesAtProgress.front(), 0u) << "0 is reported before anything is written";
    // Once at the start and once for every page offset from 4,480 down to 0 that is a
    // multiple of 128.
    EXPECT_EQ(progress.size(), 1u + 36u);
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i], progress[i - 1]);
    EXPECT_EQ(progress.back(), 1000);
    EXPECT_EQ(pagesAtProgress.back(), 144u) << "1000 comes when only the page at offset 0 is left";
    // The first multiple of 128 below the top page: (4626 - 4480) * 1000 / 4626.
    EXPECT_EQ(progress[1], 31);
}

TEST_F(FirmwareFixture, BoardRefusingEveryReadBackGivesFiveRetriesThenCode116) {
    board.refuseReadBacks(-1);
    EXPECT_EQ(update(), FW_PAGE_PROGRAM);
    EXPECT_NE(diag.text().find("timeout\nretry 1\ntimeout\nretry 2\ntimeout\nretry 3\ntimeout\nretry 4\n"
                               "timeout\nretry 5\npageProgramVerify failed\n"),
              std::string::npos)
        << diag.text();
    EXPECT_EQ(diag.count("retry 6"), 0);
    EXPECT_EQ(board.pageWrites(), std::vector<uint16_t>(5, 4608)) << "the same top page, five times";
    EXPECT_TRUE(board.processorWrites().empty()) << "the processor is not touched";
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED) << "left open for a retry";

    // The retry after the board recovers goes through.
    board.refuseReadBacks(0);
    progress.clear();
    EXPECT_EQ(update(), FW_OK);
}

TEST_F(FirmwareFixture, ASuccessfulPageResetsTheRetryCount) {
    board.queuePageWriteFailures(4); // the top page: "write fail" four times, then it goes in
    bool injected = false;
    const int code = device.updateFirmware([&](int) {
        // At the first progress step after the top page: the next page reads back wrong
        // four times.
        if (!injected && !board.pageWrites().empty()) {
            injected = true;
            board.queuePageWriteCorruptions(4);
        }
    });
    EXPECT_EQ(code, FW_OK);
    EXPECT_EQ(diag.count("write fail\n"), 4);
    EXPECT_EQ(diag.count("retry 4\n"), 2) << diag.text();
    EXPECT_EQ(diag.count("retry 5\n"), 0);
    EXPECT_EQ(board.pageWrites().size(), 145u + 4u);
    const FirmwareWorkingCopy copy = makeWorkingCopy(makeFirmwareTestImage());
    const auto memory = board.firmwareMemory();
    EXPECT_TRUE(std::equal(copy.bytes.begin(), copy.bytes.end(), memory.begin()))
        << "corrupt pages were rewritten";
}

TEST_F(FirmwareFixture, ControlPipeTimeoutRefusedGivesCode81BeforeAnythingIsWritten) {
    board.setPipePolicyRefused(true);
    EXPECT_EQ(update(), FW_PIPE_TIMEOUT);
    EXPECT_EQ(progress, (std::vector<int>{0}));
    EXPECT_TRUE(board.pageWrites().empty());
}

TEST_F(FirmwareFixture, MissingOrUndecodableImageGivesCode90) {
    device.setFirmwareImage({}, &inflater);
    EXPECT_EQ(update(), FW_RESOURCE);
    device.setFirmwareImage(kFakeContainer, nullptr);
    EXPECT_EQ(update(), FW_RESOURCE);
    device.setFirmwareImage(kFakeContainer, &inflater);
    inflater.setFailing(true);
    EXPECT_EQ(update(), FW_RESOURCE);
    EXPECT_EQ(diag.count("Resource load failed\n"), 3);
    EXPECT_TRUE(board.pageWrites().empty());
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
}

TEST_F(FirmwareFixture, FailingResetGivesCode121AfterThePages) {
    board.setCpuResetFails(true);
    EXPECT_EQ(update(), FW_CPU_RESET);
    EXPECT_NE(diag.text().find("cpuReset fail\n"), std::string::npos);
    EXPECT_EQ(board.pageWrites().size(), 145u);
    EXPECT_EQ(board.processorWrites().size(), 1u) << "no record follows a failed reset";
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
}

TEST_F(FirmwareFixture, ImageWithoutALastRecordGivesCode133AndLeavesTheBoardAsItWas) {
    inflater.setImage(makeFirmwareTestImage(false));
    const auto before = board.firmwareMemory();
    EXPECT_EQ(update(), FW_UPLOAD);
    EXPECT_NE(diag.text().find("fwUpload fail\n"), std::string::npos);
    EXPECT_TRUE(board.pageWrites().empty()) << "a broken image must not replace what the board has";
    EXPECT_EQ(board.firmwareMemory(), before);
    EXPECT_TRUE(board.processorWrites().empty());
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
}

TEST_F(FirmwareFixture, FwUploadReportsAWalkThatDoesNotEndAtTheResetRegister) {
    const FirmwareWorkingCopy broken = makeWorkingCopy(makeFirmwareTestImage(false));
    EXPECT_FALSE(device.fwUpload(broken));
    EXPECT_EQ(board.processorWrites().size(), 6u) << "the records found are still sent";
    EXPECT_TRUE(device.fwUpload(makeWorkingCopy(makeFirmwareTestImage())));
}

TEST_F(FirmwareFixture, FailingDisconnectGivesCode138AndKeepsTheDeviceOpen) {
    board.setDisconnectFails(true);
    EXPECT_EQ(update(), FW_DISCONNECT);
    EXPECT_NE(diag.text().find("usbDisconnect fail\n"), std::string::npos);
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);
    EXPECT_EQ(board.openConnections(), 1);
    EXPECT_TRUE(window.deviceNotices().empty());
}

TEST_F(FirmwareFixture, BoardComesBackWithTheNewFirmwareAndOpensNormally) {
    std::atomic<int> arrivals{0};
    board.setArrivalObserver([&] { arrivals.fetch_add(1); });
    ASSERT_EQ(update(), FW_OK);
    eventually([&] { return arrivals.load() > 0; }, 1s);
    ASSERT_EQ(arrivals.load(), 1);
    ASSERT_TRUE(device.open(&kTavrinInterfaceClass));
    EXPECT_EQ(device.state(), DEVICE_OPEN);
    EXPECT_NE(diag.text().find("fwVer=7\nTavrin open\n"), std::string::npos);
    board.setArrivalObserver(nullptr);
}

TEST_F(FirmwareFixture, PageProgramVerifySendsAddressHighByteFirstAndComparesTheReadBack) {
    uint8_t page[32];
    for (int i = 0; i < 32; ++i)
        page[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_TRUE(device.pageProgramVerify(0x1240, page));
    EXPECT_EQ(board.pageWrites(), (std::vector<uint16_t>{0x1240}));
    const auto memory = board.firmwareMemory();
    EXPECT_TRUE(std::equal(page, page + 32, memory.begin() + 0x1240));

    board.queuePageWriteCorruptions(1);
    EXPECT_FALSE(device.pageProgramVerify(0x0020, page)) << "a read-back that differs fails the page";
    board.queuePageWriteFailures(1);
    EXPECT_FALSE(device.pageProgramVerify(0x0020, page));
    EXPECT_EQ(diag.count("write fail\n"), 1);

    // A read-back that comes within 100 ms is waited for.
    board.refuseReadBacks(20);
    EXPECT_TRUE(device.pageProgramVerify(0x0040, page));
    EXPECT_EQ(diag.count("timeout\n"), 0);
}

namespace {
// Header, one record of `length` bytes to `address`, and the last record.
std::vector<uint8_t> imageWithOneRecord(uint16_t length, uint16_t address, std::vector<uint8_t>& data) {
    std::vector<uint8_t> image = {0xC2, 0, 0, 0, 0, 0, 0, 0};
    data.resize(length);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    tavrin::testing::appendFirmwareRecord(image, length, address, data);
    tavrin::testing::appendFirmwareRecord(image, 0x8001, 0xE600, {0x00});
    return image;
}
} // namespace

TEST_F(FirmwareFixture, LongRecordGoesAsTransfersOfAtMost4096BytesAtConsecutiveAddresses) {
    std::vector<uint8_t> data;
    inflater.setImage(imageWithOneRecord(5000, 0x0100, data));
    ASSERT_EQ(update(), FW_OK);

    const auto writes = board.processorWrites();
    ASSERT_EQ(writes.size(), 4u) << "reset, the record in two parts, the last record";
    EXPECT_EQ(writes[1], (std::pair<uint16_t, uint16_t>{0x0100, 4096}));
    EXPECT_EQ(writes[2], (std::pair<uint16_t, uint16_t>{0x1100, 904}));
    const auto memory = board.processorMemory();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), memory.begin() + 0x0100)) << "the whole record arrived";
}

TEST_F(FirmwareFixture, RecordThatCannotBeStoredEndsTheUpdateWithCode133) {
    // A record write the board refuses: the processor stays in reset, nothing runs.
    board.queueProcessorWriteFailures(1);
    EXPECT_EQ(update(), FW_UPLOAD);
    EXPECT_NE(diag.text().find("fwUpload fail\n"), std::string::npos);
    EXPECT_TRUE(board.processorHeld()) << "a partial program must not be started";
    EXPECT_EQ(board.processorWrites().size(), 2u) << "reset, then the refused record; no more";
    EXPECT_EQ(device.state(), DEVICE_FIRMWARE_REQUIRED);

    // A record reaching past the processor's 16-bit addresses is refused before anything is written.
    board.setVersion(1);
    std::vector<uint8_t> data;
    inflater.setImage(imageWithOneRecord(0x200, 0xFF00, data));
    const std::size_t pagesBefore = board.pageWrites().size();
    EXPECT_EQ(update(), FW_UPLOAD);
    EXPECT_EQ(board.pageWrites().size(), pagesBefore);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Built with a synthetic container embedded the way -DTAVRIN_FIRMWARE_IMAGE embeds one.
#include "platform/firmware/EmbeddedFirmware.h"

#include "device/FirmwareImage.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace tavrin;
using namespace tavrin::device;

TEST(EmbeddedFirmware, CarriesTheSuppliedFileByteForByte) {
    std::ifstream file(TEST_CONTAINER, std::ios::binary);
    ASSERT_TRUE(file) << TEST_CONTAINER;
    const std::vector<uint8_t> expected((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
    const auto embedded = firmware::embeddedFirmwareImage();
    ASSERT_EQ(embedded.size(), expected.size());
    EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), expected.begin()));
}

TEST(EmbeddedFirmware, InstalledImageUpdatesTheBoard) {
    tavrin::testing::DiagnosticCapture quiet;
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    options.version = 1;
    sim::SimulatedBoard board(options);
    NoModifierKeys keys;
    base::MessageLink link;
    TavrinDevice device(board, keys, link);
    firmware::installFirmwareImage(device);
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.updateFirmware(nullptr), FW_OK);
    const FirmwareWorkingCopy copy = makeWorkingCopy(tavrin::testing::makeFirmwareTestImage());
    const auto memory = board.firmwareMemory();
    EXPECT_TRUE(std::equal(copy.bytes.begin(), copy.bytes.end(), memory.begin()));
}

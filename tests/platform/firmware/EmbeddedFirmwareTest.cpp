// SPDX-License-Identifier: GPL-2.0-or-later
// Built with a synthetic container embedded the way -DTAVRIN_FIRMWARE_IMAGE embeds one.
#include "platform/firmware/EmbeddedFirmware.h"

#include "fakes/BoardAskingForFirmware.h"
#include "fakes/FakeControlWindow.h"

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
    tavrin::testing::BoardAskingForFirmware b;
    firmware::installFirmwareImage(b.device);
    ASSERT_TRUE(b.device.open(nullptr));
    EXPECT_EQ(b.device.updateFirmware(nullptr), FW_OK);
    EXPECT_TRUE(b.holdsTheTestImage());
}

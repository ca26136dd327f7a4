// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/firmware/LodepngInflater.h"
#include "platform/firmware/EmbeddedFirmware.h"

#include "device/FirmwareImage.h"
#include "device/TavrinDevice.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <lodepng.h>

using namespace tavrin;
using namespace tavrin::device;
using tavrin::firmware::LodepngInflater;
using tavrin::testing::makeFirmwareTestImage;

namespace {

std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& data) {
    unsigned char* out = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(
        lodepng_zlib_compress(&out, &size, data.data(), data.size(), &lodepng_default_compress_settings), 0u);
    std::vector<uint8_t> stream(out, out + size);
    std::free(out);
    return stream;
}

} // namespace

TEST(LodepngInflater, InflatesAZlibStreamAndChecksItsTrailer) {
    const auto image = makeFirmwareTestImage();
    const auto stream = zlibCompress(image);
    ASSERT_GT(stream.size(), 6u);
    EXPECT_EQ(stream[0] & 0x0F, 8) << "deflate, as RFC 1950 says";

    LodepngInflater inflater;
    std::vector<uint8_t> out;
    ASSERT_TRUE(inflater.inflate(stream, 65536, out));
    EXPECT_EQ(out, image);

    auto badAdler = stream;
    badAdler.back() ^= 0x01;
    EXPECT_FALSE(inflater.inflate(badAdler, 65536, out)) << "the Adler-32 trailer must match";
    EXPECT_TRUE(out.empty());

    auto badHeader = stream;
    badHeader[1] ^= 0x01; // header check bits no longer add up
    EXPECT_FALSE(inflater.inflate(badHeader, 65536, out));

    const std::vector<uint8_t> truncated(stream.begin(),
                                         stream.begin() + static_cast<long>(stream.size() / 2));
    EXPECT_FALSE(inflater.inflate(truncated, 65536, out));
    EXPECT_FALSE(inflater.inflate({}, 65536, out));
}

TEST(LodepngInflater, RefusesAStreamThatInflatesBeyondTheLimit) {
    const std::vector<uint8_t> big(200000, 0x55); // compresses to a few hundred bytes
    const auto stream = zlibCompress(big);
    LodepngInflater inflater;
    std::vector<uint8_t> out;
    EXPECT_FALSE(inflater.inflate(stream, 65486, out));
    EXPECT_TRUE(inflater.inflate(stream, 200000, out));
    EXPECT_EQ(out.size(), 200000u);
}

TEST(LodepngInflater, CorruptContainerFailsTheUpdateWithCode90) {
    tavrin::testing::DiagnosticCapture lines;
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    options.version = 1;
    sim::SimulatedBoard board(options);
    NoModifierKeys keys;
    base::MessageLink link;
    TavrinDevice device(board, keys, link);
    ASSERT_TRUE(device.open(nullptr));

    LodepngInflater inflater;
    auto stream = zlibCompress(makeFirmwareTestImage());
    stream[stream.size() / 2] ^= 0xFF;
    device.setFirmwareImage(stream, &inflater);
    EXPECT_EQ(device.updateFirmware(nullptr), FW_RESOURCE);
    EXPECT_NE(lines.text().find("Resource load failed\n"), std::string::npos);
    EXPECT_TRUE(board.pageWrites().empty());

    // The same container intact goes through.
    const auto good = zlibCompress(makeFirmwareTestImage());
    device.setFirmwareImage(good, &inflater);
    EXPECT_EQ(device.updateFirmware(nullptr), FW_OK);
    EXPECT_EQ(board.pageWrites().size(), 145u);
}

#ifndef TAVRIN_HAVE_FIRMWARE_IMAGE
TEST(EmbeddedFirmware, WithoutASuppliedImageTheUpdateSaysResourceLoadFailed) {
    EXPECT_TRUE(firmware::embeddedFirmwareImage().empty());
    tavrin::testing::DiagnosticCapture lines;
    sim::SimulatedBoard::Options options;
    options.framesPerSecond = 0;
    options.version = 1;
    sim::SimulatedBoard board(options);
    NoModifierKeys keys;
    base::MessageLink link;
    TavrinDevice device(board, keys, link);
    firmware::installFirmwareImage(device);
    ASSERT_TRUE(device.open(nullptr));
    EXPECT_EQ(device.updateFirmware(nullptr), FW_RESOURCE);
    EXPECT_NE(lines.text().find("Resource load failed\n"), std::string::npos);
    EXPECT_TRUE(board.pageWrites().empty());
}
#endif

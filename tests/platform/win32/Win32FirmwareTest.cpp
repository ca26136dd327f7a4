// SPDX-License-Identifier: GPL-2.0-or-later
// zlib's decoder on the firmware container, and the container carried as the
// program's resource (this test program carries the synthetic one).
#include "platform/win32/Win32Firmware.h"

#include "fakes/BoardAskingForFirmware.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"

#include <gtest/gtest.h>

#include <zlib.h>

using namespace tavrin;
using namespace tavrin::device;

namespace {

std::vector<uint8_t> zlibStream(const std::vector<uint8_t>& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> stream(size);
    EXPECT_EQ(compress2(stream.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 9), Z_OK);
    stream.resize(size);
    return stream;
}

} // namespace

TEST(Win32Firmware, InflatesOnlyWholeCheckedStreamsWithinTheLimit) {
    const std::vector<uint8_t> image = tavrin::testing::makeFirmwareTestImage();
    const std::vector<uint8_t> good = zlibStream(image);
    std::vector<uint8_t> badTrailer = good;
    badTrailer.back() ^= 0x01;
    std::vector<uint8_t> badHeader = good;
    badHeader[1] ^= 0x01; // header check bits no longer a multiple of 31
    const std::vector<uint8_t> truncated(good.begin(), good.end() - 6);
    const std::vector<uint8_t> rawDeflate(good.begin() + 2, good.end() - 4);
    struct Case {
        const char* what;
        const std::vector<uint8_t>& stream;
        std::size_t limit;
        bool ok;
    } const cases[] = {
        {"whole", good, image.size(), true},
        {"room to spare", good, 65536, true},
        {"one byte over the limit", good, image.size() - 1, false},
        {"Adler-32 trailer changed", badTrailer, 65536, false},
        {"header changed", badHeader, 65536, false},
        {"cut short", truncated, 65536, false},
        {"deflate data without the zlib wrapping", rawDeflate, 65536, false},
    };
    const win32::ZlibStreamInflater inflater;
    for (const Case& c : cases) {
        std::vector<uint8_t> out = {1, 2, 3};
        EXPECT_EQ(inflater.inflate(c.stream, c.limit, out), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ(out, image) << c.what;
        else
            EXPECT_TRUE(out.empty()) << c.what;
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(inflater.inflate({}, 65536, out)) << "empty";
}

TEST(Win32Firmware, TheResourceUpdatesTheBoard) {
#ifndef TAVRIN_TEST_FIRMWARE_RESOURCE
    GTEST_SKIP() << "this build carries no test container (no Wine to make one at build time)";
#endif
    const auto container = win32::firmwareResource();
    ASSERT_FALSE(container.empty()) << "no resource 114";
    std::vector<uint8_t> inflated;
    ASSERT_TRUE(win32::ZlibStreamInflater().inflate(container, 65536, inflated));
    EXPECT_EQ(inflated, tavrin::testing::makeFirmwareTestImage());

    tavrin::testing::DiagnosticCapture quiet;
    tavrin::testing::BoardAskingForFirmware b;
    win32::installFirmwareResource(b.device);
    ASSERT_TRUE(b.device.open(nullptr));
    EXPECT_EQ(b.device.updateFirmware(nullptr), FW_OK);
    EXPECT_TRUE(b.holdsTheTestImage());
}

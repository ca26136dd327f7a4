// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/FirmwareImage.h"

#include "fakes/FirmwareTestImage.h"

#include <gtest/gtest.h>

using namespace tavrin::device;
using tavrin::testing::appendFirmwareRecord;
using tavrin::testing::FakeInflater;
using tavrin::testing::kFakeContainer;
using tavrin::testing::makeFirmwareTestImage;

TEST(FirmwareWorkingCopy, IsTheImageThenZeroToFortyNineSizedToWholePages) {
    const auto image = makeFirmwareTestImage();
    ASSERT_EQ(image.size(), 4576u);
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    EXPECT_EQ(copy.total, 4626u);
    EXPECT_EQ(copy.bytes.size(), 4640u) << "the page at 4,608 must lie inside the copy";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), copy.bytes.begin()));
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_EQ(copy.bytes[4576 + i], i);
    for (std::size_t i = 4626; i < 4640; ++i)
        EXPECT_EQ(copy.bytes[i], 0xFF);

    // A total that is already whole pages gets no extra page.
    EXPECT_EQ(makeWorkingCopy(std::vector<uint8_t>(14)).bytes.size(), 64u);
    EXPECT_EQ(makeWorkingCopy(std::vector<uint8_t>(15)).bytes.size(), 96u);
}

TEST(FirmwareRecordWalk, FindsEveryRecordOfTheShippedLayoutAndEndsAtTheResetRegister) {
    const auto image = makeFirmwareTestImage();
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    const FirmwareRecordWalk walk = walkFirmwareRecords(copy.content());
    ASSERT_EQ(walk.records.size(), 6u);
    EXPECT_EQ(walk.records[0].offset, 8u);
    EXPECT_EQ(walk.records[0].address, 0x0000);
    EXPECT_EQ(walk.records[0].length, 1023);
    EXPECT_EQ(walk.records[1].offset, 8u + 1027u);
    EXPECT_EQ(walk.records[1].address, 0x0400);
    EXPECT_EQ(walk.records[4].length, 451);
    EXPECT_EQ(walk.records[5].offset, 4571u);
    EXPECT_EQ(walk.records[5].address, 0xE600);
    EXPECT_EQ(walk.records[5].length, 1) << "only the low 13 bits count as data length";
    EXPECT_TRUE(walk.endsAtResetRegister);
}

TEST(FirmwareRecordWalk, ImageWithoutALastRecordStopsInsideTheWorkingCopy) {
    const auto image = makeFirmwareTestImage(false);
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    // Exactly as large as the working copy, so any read past it is caught by ASan.
    const std::vector<uint8_t> exact(copy.bytes.begin(), copy.bytes.begin() + copy.total);
    const FirmwareRecordWalk walk = walkFirmwareRecords(exact);
    EXPECT_FALSE(walk.endsAtResetRegister);
    for (const FirmwareRecord& r : walk.records)
        EXPECT_LE(r.offset + 4 + r.length, exact.size());
    // The five image records, then the trailer read as a record: 00 01 02 03 | 04.
    ASSERT_EQ(walk.records.size(), 6u);
    EXPECT_EQ(walk.records[5].address, 0x0203);
    EXPECT_EQ(walk.records[5].length, 1);
}

TEST(FirmwareRecordWalk, StopsAtTheWalkLimitEvenWithoutALastRecord) {
    std::vector<uint8_t> image(8, 0);
    while (image.size() < 9000)
        appendFirmwareRecord(image, 96, 0x1000, std::vector<uint8_t>(96, 0xAB));
    const FirmwareRecordWalk walk = walkFirmwareRecords(image);
    ASSERT_FALSE(walk.records.empty());
    EXPECT_LT(walk.records.back().offset, kFirmwareWalkLimit);
    EXPECT_GE(walk.records.back().offset + 100, kFirmwareWalkLimit) << "no record below the limit is skipped";
}

TEST(FirmwareRecordWalk, ARecordAtTheResetRegisterIsOnlyGoodWhenItIsTheLastOneSent) {
    std::vector<uint8_t> image(8, 0);
    appendFirmwareRecord(image, 0x8001, 0x1234, {0x00}); // last record, but elsewhere
    EXPECT_FALSE(walkFirmwareRecords(image).endsAtResetRegister);

    std::vector<uint8_t> second(8, 0);
    appendFirmwareRecord(second, 1, 0xE600, {0x00});
    appendFirmwareRecord(second, 0x8002, 0x2000, {1, 2});
    EXPECT_FALSE(walkFirmwareRecords(second).endsAtResetRegister);

    EXPECT_FALSE(walkFirmwareRecords(std::vector<uint8_t>(3, 0)).endsAtResetRegister);
    EXPECT_TRUE(walkFirmwareRecords(std::vector<uint8_t>{}).records.empty());
}

TEST(FirmwareRecordWalk, TruncatedRecordIsNotTaken) {
    std::vector<uint8_t> image(8, 0);
    appendFirmwareRecord(image, 2, 0x3000, {7, 8});
    appendFirmwareRecord(image, 0x8010, 0xE600, {0}); // claims 16 data bytes, has 1
    const FirmwareRecordWalk walk = walkFirmwareRecords(image);
    ASSERT_EQ(walk.records.size(), 1u);
    EXPECT_EQ(walk.records[0].address, 0x3000);
    EXPECT_FALSE(walk.endsAtResetRegister);
}

TEST(FirmwareImageLoad, FailsWithoutContainerOrDecoderOrWhenTooLargeForTheMemory) {
    std::vector<uint8_t> image;
    FakeInflater inflater(makeFirmwareTestImage());
    EXPECT_TRUE(inflateFirmwareImage(kFakeContainer, &inflater, image));
    EXPECT_EQ(image.size(), 4576u);

    EXPECT_FALSE(inflateFirmwareImage({}, &inflater, image));
    EXPECT_TRUE(image.empty());
    EXPECT_FALSE(inflateFirmwareImage(kFakeContainer, nullptr, image));
    inflater.setFailing(true);
    EXPECT_FALSE(inflateFirmwareImage(kFakeContainer, &inflater, image));

    // The working copy must fit the 16-bit firmware memory.
    inflater.setFailing(false);
    inflater.setImage(std::vector<uint8_t>(kFirmwareMemoryBytes - 50, 1));
    EXPECT_TRUE(inflateFirmwareImage(kFakeContainer, &inflater, image));
    inflater.setImage(std::vector<uint8_t>(kFirmwareMemoryBytes - 49, 1));
    EXPECT_FALSE(inflateFirmwareImage(kFakeContainer, &inflater, image));
}

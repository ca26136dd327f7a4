// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/VersionFile.h"
#include "update/HourStamp.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace tavrin::update;

namespace {
VersionFile read(const std::string& text) {
    return readVersionFile(text.data(), int(text.size()));
}
} // namespace

TEST(VersionFile, AllFourKeysAfterTheMarkerMakeItValid) {
    const VersionFile f = read("tavrin 1\nver 5\nurl https://example.test/get\neof\n");
    EXPECT_TRUE(f.valid);
    EXPECT_EQ(f.version, 5);
    EXPECT_EQ(f.url, "https://example.test/get");

    EXPECT_TRUE(read("junk before\r\ntavrin x\r\nurl http://a\r\nother 1\r\nver 7\r\neof").valid)
        << "CRLF lines, other keys and any order";
}

TEST(VersionFile, MissingOrMisplacedKeysMakeItInvalid) {
    EXPECT_FALSE(read("tavrin 1\nver 5\nurl http://a\n").valid) << "no eof";
    EXPECT_FALSE(read("tavrin 1\nurl http://a\neof\n").valid) << "no ver";
    EXPECT_FALSE(read("tavrin 1\nver 5\neof\n").valid) << "no url";
    EXPECT_FALSE(read("ver 5\nurl http://a\neof\n").valid) << "no marker";
    EXPECT_FALSE(read("ver 5\nurl http://a\neof x\ntavrin 1\n").valid) << "keys before the marker";
    EXPECT_FALSE(read("tavrin 1\nver 5\neof\nurl http://a\n").valid) << "url after eof";
    EXPECT_FALSE(read("Tavrin 1\nVER 5\nurl http://a\neof\n").valid) << "keys are case-sensitive";
    EXPECT_FALSE(read("").valid);
}

TEST(VersionFile, VersionReadsLikePercentI) {
    auto version = [](const std::string& value) {
        return read("tavrin\nver " + value + "\nurl http://a\neof\n").version;
    };
    EXPECT_EQ(version("0x10"), 16);
    EXPECT_EQ(version("0X1f"), 31);
    EXPECT_EQ(version("010"), 8);
    EXPECT_EQ(version("12abc"), 12);
    EXPECT_EQ(version("-3"), -3);
    EXPECT_EQ(version("99999999999999"), INT_MAX);
    EXPECT_EQ(version("-99999999999999"), INT_MIN);
    EXPECT_EQ(version("none"), 0);
}

TEST(VersionFile, LinesAreFoundTheWayTheFormatDefines) {
    // A one-word line takes its value from the next line; the next line is then read again.
    VersionFile f = read("tavrin\nver\n6\nurl http://a\neof");
    EXPECT_TRUE(f.valid);
    EXPECT_EQ(f.version, 6);
    // Bytes of 0x80 and above end a line like control characters.
    // (They are not white space, so they stay inside a word.)
    f = read("tavrin 1\x80ver 5\xff"
             "url http://a\x80"
             "eof");
    EXPECT_TRUE(f.valid);
    EXPECT_EQ(f.version, 5);
    EXPECT_EQ(f.url, "http://a\x80"
                     "eof");
    // Later lines than eof are ignored.
    f = read("tavrin\nver 5\nurl http://a\neof\nver 9\n");
    EXPECT_EQ(f.version, 5);
    // Words are cut at 63 characters.
    f = read("tavrin\nver 5\nurl http://" + std::string(70, 'x') + "\neof\n");
    EXPECT_EQ(f.url.size(), 63u);
}

TEST(VersionFile, OnlyTheGivenByteCountIsRead) {
    const std::string text = "tavrin\nver 5\nurl http://a\neof\n";
    EXPECT_TRUE(readVersionFile(text.data(), int(text.size())).valid);
    EXPECT_FALSE(readVersionFile(text.data(), int(text.find("eof")) + 2).valid);
    EXPECT_FALSE(readVersionFile(text.data(), 0).valid);
    const std::string withNul = std::string("tavrin\nver 5\nurl http://a\n\0eof\n", 31);
    EXPECT_TRUE(readVersionFile(withNul.data(), int(withNul.size())).valid) << "a NUL ends a line";
}

TEST(VersionFile, OnlyHttpAndHttpsAddressesAreWebAddresses) {
    EXPECT_TRUE(isWebAddress("http://a"));
    EXPECT_TRUE(isWebAddress("HTTPS://example.test/x?y=1"));
    EXPECT_FALSE(isWebAddress("https://"));
    EXPECT_FALSE(isWebAddress("file:///etc/passwd"));
    EXPECT_FALSE(isWebAddress("javascript:alert(1)"));
    EXPECT_FALSE(isWebAddress("ftp://example.test"));
    EXPECT_FALSE(isWebAddress("/usr/bin/xterm"));
    EXPECT_FALSE(isWebAddress(""));
}

TEST(HourStamp, CountsHoursWithThirtyOneDayMonths) {
    EXPECT_EQ(hourStamp(2000, 1, 1, 0), 17856024u); // 24 * (31 * 24000 + 1)
    EXPECT_EQ(hourStamp(2024, 3, 10, 14) + 1, hourStamp(2024, 3, 10, 15));
    EXPECT_EQ(hourStamp(2024, 3, 10, 23) + 1, hourStamp(2024, 3, 11, 0));
    EXPECT_EQ(hourStamp(2024, 12, 31, 23) + 1, hourStamp(2025, 1, 1, 0));
    // April has 30 days: the stamp jumps a day at its end.
    EXPECT_EQ(hourStamp(2024, 4, 30, 23) + 25, hourStamp(2024, 5, 1, 0));
    const uint32_t now = currentHourStamp();
    EXPECT_GT(now, hourStamp(2024, 1, 1, 0));
    EXPECT_LT(now, hourStamp(2200, 1, 1, 0));
}

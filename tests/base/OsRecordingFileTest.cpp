// SPDX-License-Identifier: GPL-2.0-or-later
// The calls a recording's file and its marker go through, the same on Linux and Windows.
#include "base/Os.h"
#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace os = tavrin::base::os;
using tavrin::testing::TempDir;

namespace {

std::string readAll(int fd, long long offset, std::size_t size) {
    std::string bytes(size, '\0');
    const long long n = os::readAt(fd, bytes.data(), size, offset);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

// Through the base layer: the tests' own file calls take names in the system's code page.
void put(const std::string& path, const std::string& bytes) {
    const int fd = os::createNewFile(path);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(os::writeFile(fd, bytes.data(), bytes.size()), static_cast<long long>(bytes.size()));
    os::closeFile(fd);
}

TEST(OsRecordingFile, WritesAndReadsAtOffsetsWithoutMovingAndResizes) {
    TempDir dir;
    const std::string path = dir.folder() + "r\xc3\xa9sum\xc3\xa9.avi"; // UTF-8 reaches the wide calls
    put(path, "old contents that go");
    const int fd = os::createOrReplace(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(os::fileSize(fd), 0) << "an existing file is emptied";
    // Bytes of every value, text mode would change some.
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    struct Case {
        long long offset;
        std::size_t size;
    };
    for (const Case c : {Case{0, 256}, Case{1000, 100}, Case{(5LL << 30) + 3, 10}}) {
        ASSERT_EQ(os::writeAt(fd, bytes.data(), c.size, c.offset), static_cast<long long>(c.size))
            << c.offset;
        EXPECT_EQ(readAll(fd, c.offset, c.size), bytes.substr(0, c.size)) << c.offset;
    }
    EXPECT_EQ(os::fileSize(fd), (5LL << 30) + 13) << "beyond 4 GiB: the offset's high half counts";
    EXPECT_EQ(readAll(fd, 256, 16), std::string(16, '\0')) << "the hole between reads as zeros";
    // Writes at offsets leave the position alone: a plain write goes to the start.
    ASSERT_EQ(os::writeFile(fd, "AB", 2), 2);
    EXPECT_EQ(readAll(fd, 0, 3), std::string("AB\x02", 3));
    EXPECT_EQ(readAll(fd, (5LL << 30) + 13, 4), "") << "nothing past the end";

    ASSERT_EQ(os::resizeFile(fd, 1050), 0);
    EXPECT_EQ(os::fileSize(fd), 1050);
    EXPECT_EQ(readAll(fd, 1000, 100), bytes.substr(0, 50));
    // Room kept ahead changes nothing that a reader sees.
    const int reserved = os::reserveRoom(fd, 4 << 20);
    if (reserved != 0) {
        EXPECT_NE(errno, ENOSPC);
    }
    EXPECT_EQ(os::fileSize(fd), 1050);
    ASSERT_EQ(os::closeFile(fd), 0);

    const int again = os::openForUpdate(path);
    ASSERT_GE(again, 0);
    EXPECT_EQ(os::fileSize(again), 1050) << "opened for update, not emptied";
    os::closeFile(again);
    errno = 0;
    EXPECT_EQ(os::openForUpdate(dir.folder() + "missing.avi"), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(OsRecordingFile, OneLockHolderReadersReadOnAndTheLockGoesWithTheClose) {
    TempDir dir;
    const std::string marker = dir.folder() + ".00001.avi.unfinished";
    const int writer = os::createOrReplace(marker);
    ASSERT_GE(writer, 0);
    ASSERT_TRUE(os::tryLockFile(writer));
    ASSERT_EQ(os::writeFile(writer, "0 0\n", 4), 4);

    const int other = os::openForUpdate(marker);
    ASSERT_GE(other, 0);
    EXPECT_FALSE(os::tryLockFile(other)) << "a second holder is refused while the writer has it";
    // The key frames in the marker are read by whoever finishes the file.
    const int reader = os::openForReading(marker);
    ASSERT_GE(reader, 0);
    char text[8] = {};
    EXPECT_EQ(os::readFile(reader, text, sizeof text), 4) << "the lock keeps nobody from reading";
    EXPECT_STREQ(text, "0 0\n");
    os::closeFile(reader);

    // A finished recording's marker is removed while it is still open (and locked); the
    // name goes at once on Linux, with the last close on Windows.
    EXPECT_EQ(os::removeFile(marker), 0);
    ASSERT_EQ(os::closeFile(writer), 0);
    EXPECT_TRUE(os::tryLockFile(other)) << "the writer's close lets the lock go";
    os::closeFile(other);
    EXPECT_FALSE(os::nameTaken(marker));
}

TEST(OsRecordingFile, FolderEntriesAreTheNamesInIt) {
    TempDir dir;
    for (const char* name : {".hidden.unfinished", "a.avi", "\xe2\x9c\x93.avi"})
        put(dir.folder() + name, "x");
    ASSERT_EQ(os::makeFolder(dir.folder() + "sub"), 0);
    std::vector<std::string> names = os::folderEntries(dir.folder());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden.unfinished", "a.avi", "sub", "\xe2\x9c\x93.avi"}));
    // Without the trailing separator too.
    std::string bare = dir.folder();
    bare.pop_back();
    EXPECT_EQ(os::folderEntries(bare).size(), 4u);
    EXPECT_TRUE(os::folderEntries(dir.folder() + "missing").empty());
}

} // namespace

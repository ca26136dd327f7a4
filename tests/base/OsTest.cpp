// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Os.h"
#include "base/FileWrite.h"
#include "base/KnownUserFolders.h"
#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace os = tavrin::base::os;
using tavrin::testing::CurrentDirGuard;
using tavrin::testing::TempDir;

namespace {

// Bytes a text-mode file would change: line ends, and the old end-of-file mark.
const std::string kBinary("\n\r\n\x1a\0\n", 6);

std::string contents(const std::string& path) {
    std::ifstream in(os::toPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void create(const std::string& path, const std::string& bytes) {
    const int fd = os::createNewFile(path);
    ASSERT_GE(fd, 0) << path;
    EXPECT_TRUE(tavrin::base::writeAll(fd, bytes.data(), bytes.size()));
    EXPECT_EQ(os::closeFile(fd), 0);
}

} // namespace

// One pass through every file call, in a folder whose name no ANSI code page holds.
TEST(Os, FilesAreBinaryNamesUtf8AndAReplaceTakesOneStep) {
    TempDir dir;
    const std::string folder = dir.folder() + "Größe ✓ 設定";
    ASSERT_EQ(os::makeFolder(folder), 0);
    EXPECT_TRUE(os::isFolder(folder));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / std::filesystem::path(u8"Größe ✓ 設定")));
    errno = 0;
    EXPECT_EQ(os::makeFolder(folder), -1);
    EXPECT_EQ(errno, EEXIST);

    const std::string a = folder + "/ä.bin", b = folder + "/b.bin";
    create(a, kBinary);
    EXPECT_EQ(os::createNewFile(a), -1) << "an existing file is never opened for writing";
    EXPECT_EQ(errno, EEXIST);
    const int fd = os::openForReading(a);
    ASSERT_GE(fd, 0);
    char buffer[16];
    EXPECT_EQ(os::readFile(fd, buffer, sizeof buffer), static_cast<long long>(kBinary.size()));
    EXPECT_EQ(std::string(buffer, kBinary.size()), kBinary);
    EXPECT_EQ(os::closeFile(fd), 0);

    create(b, "old");
    ASSERT_EQ(os::renameOver(a, b), 0) << "an existing target is replaced";
    EXPECT_EQ(contents(b), kBinary);
    EXPECT_FALSE(os::nameTaken(a));
    EXPECT_TRUE(os::nameTaken(b));
    EXPECT_TRUE(os::nameTaken(folder));
    EXPECT_EQ(os::removeFile(b), 0);
    EXPECT_FALSE(os::nameTaken(b));

    std::string first = folder + "/t.XXXXXX", second = first;
    const int fd1 = os::makeTemporaryFile(first), fd2 = os::makeTemporaryFile(second);
    ASSERT_GE(fd1, 0);
    ASSERT_GE(fd2, 0);
    os::closeFile(fd1);
    os::closeFile(fd2);
    EXPECT_NE(first, second);
    EXPECT_FALSE(first.ends_with("XXXXXX"));
    EXPECT_TRUE(os::nameTaken(first) && os::nameTaken(second));

    CurrentDirGuard restore;
    ASSERT_TRUE(os::setCurrentFolder(folder));
    EXPECT_EQ(os::toPath(os::currentFolder()), os::toPath(folder));
    EXPECT_FALSE(os::setCurrentFolder(folder + "/gone"));
}

TEST(Os, UtcTimeGivesTheCalendarDate) {
    struct Case {
        std::time_t time;
        int year, month, day, hour;
    };
    const Case cases[] = {{0, 1970, 1, 1, 0}, {951825600, 2000, 2, 29, 12}, {4102444799, 2099, 12, 31, 23}};
    for (const Case& c : cases) {
        std::tm utc{};
        ASSERT_TRUE(os::utcTime(c.time, utc)) << c.time;
        EXPECT_EQ(utc.tm_year + 1900, c.year) << c.time;
        EXPECT_EQ(utc.tm_mon + 1, c.month) << c.time;
        EXPECT_EQ(utc.tm_mday, c.day) << c.time;
        EXPECT_EQ(utc.tm_hour, c.hour) << c.time;
    }
}

TEST(KnownUserFolders, AreTheShellsExistingFolders) {
#ifndef _WIN32
    GTEST_SKIP() << "Known Folders are Windows'; Linux has the XDG folders (XdgUserFolders)";
#endif
    tavrin::base::KnownUserFolders folders;
    const std::string config = folders.configFolder();
    ASSERT_GT(config.size(), 3u);
    EXPECT_EQ(config.substr(1, 2), ":\\") << config;
    EXPECT_NE(config.back(), '\\');
    EXPECT_TRUE(os::isFolder(config)) << config;
    const std::string desktop = folders.desktopFolder();
    EXPECT_TRUE(desktop.empty() || os::isFolder(desktop)) << desktop;
}

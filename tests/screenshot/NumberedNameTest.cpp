// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/NumberedName.h"

#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using tavrin::screenshot::nextNumberedName;
using tavrin::testing::CurrentDirGuard;
using tavrin::testing::TempDir;

TEST(NumberedName, SkipsExistingFilesAndMovesTheCounterPastTheNameReturned) {
    TempDir dir;
    dir.write("00000.png", "x");
    dir.write("00001.png", "x");
    uint32_t counter = 0;
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "00002.png");
    EXPECT_EQ(counter, 3u);
    // Successive calls take successive numbers even though nothing was written.
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "00003.png");
    EXPECT_EQ(counter, 4u);
}

TEST(NumberedName, PadsToFiveDigitsAndGrowsBeyond) {
    TempDir dir;
    uint32_t counter = 42;
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "00042.png");
    counter = 100000;
    EXPECT_EQ(nextNumberedName(counter, ".avi", dir.folder()), "100000.avi");
    counter = 4294967295u;
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "4294967295.png");
}

TEST(NumberedName, OnlyFilesWithTheSameExtensionAreSkipped) {
    TempDir dir;
    dir.write("00000.png", "x");
    uint32_t counter = 0;
    EXPECT_EQ(nextNumberedName(counter, ".avi", dir.folder()), "00000.avi");
}

TEST(NumberedName, DanglingLinksAndFoldersCountAsTaken) {
#ifdef _WIN32
    GTEST_SKIP() << "making a symbolic link needs a privilege or developer mode on Windows";
#endif
    TempDir dir;
    std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "00000.png");
    std::filesystem::create_directory(dir.path() / "00001.png");
    uint32_t counter = 0;
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "00002.png");
}

TEST(NumberedName, NeverHandsOutAnExistingFileAtTheLimit) {
    TempDir dir;
    dir.write("99998.png", "keep");
    dir.write("99999.png", "keep");
    uint32_t counter = 99998;
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "");
    EXPECT_EQ(counter, 100000u);
    // The next request goes on past the limit, one probe at a time.
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "100000.png");
    dir.write("100001.png", "keep");
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "");
    EXPECT_EQ(nextNumberedName(counter, ".png", dir.folder()), "100002.png");
}

TEST(NumberedName, WithoutAFolderProbesTheCurrentDirectory) {
    TempDir dir;
    dir.write("00000.avi", "x");
    CurrentDirGuard guard;
    std::filesystem::current_path(dir.path());
    uint32_t counter = 0;
    EXPECT_EQ(nextNumberedName(counter, ".avi"), "00001.avi");
}

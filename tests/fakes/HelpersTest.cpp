// SPDX-License-Identifier: GPL-2.0-or-later
// The tests' own waiting and temporary folder, which every other test leans on.
#include "fakes/Eventually.h"
#include "fakes/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace std::chrono_literals;
namespace tt = tavrin::testing;

TEST(TestHelpers, EventuallyGivesUpAtItsLimitAndLooksAfterEachStep) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tt::eventually([] { return false; }, 100ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 2s);

    int steps = 0;
    EXPECT_TRUE(tt::eventually([&] { return steps == 3; }, 5s, [&] { ++steps; }));
    EXPECT_EQ(steps, 3) << "it stops at the first look that holds";
}

TEST(TestHelpers, EachTempDirIsNewAndGoesWithWhatIsInIt) {
    std::filesystem::path gone;
    {
        const tt::TempDir a, b;
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(std::filesystem::is_empty(a.path()));
        EXPECT_EQ(a.folder(), tavrin::base::os::fromPath(a.path()) + "/");
        std::filesystem::create_directory(a.path() / "inner");
        a.write("inner/file", "x");
        EXPECT_EQ(a.read("inner/file"), "x");
        gone = a.path();
    }
    EXPECT_FALSE(std::filesystem::exists(gone));
}

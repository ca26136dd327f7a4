// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/ProgramOptions.h"

#include "fakes/FakeControlWindow.h"
#include "fakes/TempFolders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace tavrin;
using base::OptionsText;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(OptionsText, KeepsWhatItDoesNotKnowAndChangesOnlyTheKeySet) {
    struct Case {
        const char* in;
        const char* key;
        const char* value;
        const char* out;
    };
    const Case cases[] = {
        {"", "camera", "1", "camera=1\n"},
        {"camera=0\n", "camera", "1", "camera=1\n"},
        // Unknown keys, comments and blank lines stay where they were.
        {"# mine\nswap=1\n\ncamera=0\nfuture=a=b\n", "camera", "1",
         "# mine\nswap=1\n\ncamera=1\nfuture=a=b\n"},
        // Spaces around keys and values, Windows line ends and a missing last line end.
        {" camera = 0 \r\ngap=4", "camera", "1", "camera=1\ngap=4\n"},
        // A key given twice: one line for it from now on, where the first was.
        {"camera=0\nx=1\ncamera=1\n", "camera", "0", "camera=0\nx=1\n"},
        // Lines that are not key=value are text, kept as they are; so are UTF-8 values.
        {"just text\n=3\nname=Ünïcødé ✓\n", "camera", "0", "just text\n=3\nname=Ünïcødé ✓\ncamera=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        OptionsText t = OptionsText::parse(c.in);
        t.set(c.key, c.value);
        EXPECT_EQ(t.text(), c.out);
    }
    // The last of several lines counts, as a reader going down the file would find it.
    EXPECT_EQ(OptionsText::parse("camera=0\ncamera=1\n").value("camera"), "1");
    EXPECT_EQ(OptionsText::parse("# camera=1\n").value("camera"), std::nullopt);
}

TEST(OptionsText, TypedValuesFallBackToTheDefaultWithOneLineEach) {
    struct Case {
        const char* text;
        bool flag;      // readFlag(..., "k", true)
        int32_t number; // readInteger(..., "n", 5, 0, 40)
        int diagnosticLines;
    };
    const Case cases[] = {
        {"k=0\nn=40\n", false, 40, 0},
        {"k=1\nn=0\n", true, 0, 0},
        {"", true, 5, 0},                      // missing: the default, silently
        {"k=yes\nn=41\n", true, 5, 2},         // not 0/1; over the range
        {"k=\nn=-1\n", true, 5, 2},            // empty; under the range
        {"k=10\nn=7px\n", true, 5, 2},         // not a flag; not a whole number
        {"k=0\nn=99999999999\n", false, 5, 1}, // too large for the type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        tavrin::testing::DiagnosticCapture diagnostics;
        const OptionsText t = OptionsText::parse(c.text);
        EXPECT_EQ(base::readFlag(t, "k", true), c.flag);
        EXPECT_EQ(base::readInteger(t, "n", 5, 0, 40), c.number);
        EXPECT_EQ(diagnostics.count("options.conf:"), c.diagnosticLines) << diagnostics.text();
    }
}

TEST(ProgramOptions, LiveBesideTheSettingsAndSurviveASaveWithOtherKeys) {
    tavrin::testing::TempFolders folders;
    const std::string path = base::optionsFilePath(folders);
    EXPECT_EQ(path, folders.settingsFolder() + "/options.conf");

    // No file yet: the defaults; a save makes the folder and the file.
    base::ProgramOptions options;
    options.camera = false;
    options.inBuild.listen = true;
    base::loadProgramOptions(options, folders);
    EXPECT_TRUE(options.camera);
    EXPECT_TRUE(options.inBuild.listen) << "the build's abilities are not read from the file";
    std::filesystem::remove_all(folders.settingsFolder());
    ASSERT_TRUE(base::saveProgramOptions(options, folders));
    EXPECT_EQ(readText(path),
              "camera=1\nlisten=0\narrangement=stacked\ngap=0\nswap=0\nrotation=0\ninteger_scale=0\n");

    // A bad value: the default and one line saying so; other keys keep their places.
    writeText(path, "arrangement=beside\ncamera=maybe\ngap=8\nlater=kept\nlisten=1\n");
    tavrin::testing::DiagnosticCapture diagnostics;
    base::loadProgramOptions(options, folders);
    EXPECT_TRUE(options.camera);
    EXPECT_EQ(diagnostics.count("camera=maybe"), 1) << diagnostics.text();
    EXPECT_EQ(diagnostics.count("arrangement=beside"), 1) << diagnostics.text();
    EXPECT_EQ(options.picture.gap, 8);
    EXPECT_TRUE(options.listen);
    options.camera = false;
    ASSERT_TRUE(base::saveProgramOptions(options, folders));
    EXPECT_EQ(readText(path),
              "arrangement=stacked\ncamera=0\ngap=8\nlater=kept\nlisten=1\nswap=0\nrotation=0\n"
              "integer_scale=0\n");
    base::loadProgramOptions(options, folders);
    EXPECT_FALSE(options.camera);
    EXPECT_TRUE(options.listen);
}

// The picture's keys: each value read as the menu would have set it, anything else
// the default with one line; what is read is what is written back.
TEST(ProgramOptions, PictureKeysReadBackAsWritten) {
    struct Case {
        const char* text;
        base::PictureOptions expected;
        int diagnosticLines;
    };
    using A = base::Arrangement;
    const Case cases[] = {
        {"arrangement=side-by-side\ngap=16\nswap=1\nrotation=270\ninteger_scale=1\n",
         {A::SideBySide, 16, true, 270, true},
         0},
        {"gap=256\nrotation=90\n", {A::Stacked, 256, false, 90, false}, 0},
        {"gap=257\nrotation=45\narrangement=Stacked\n", {}, 3},
        {"swap=yes\ninteger_scale=2\ngap=-8\n", {}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        tavrin::testing::TempFolders folders;
        writeText(base::optionsFilePath(folders), c.text);
        tavrin::testing::DiagnosticCapture diagnostics;
        base::ProgramOptions options;
        base::loadProgramOptions(options, folders);
        EXPECT_EQ(options.picture, c.expected);
        EXPECT_EQ(diagnostics.count("options.conf:"), c.diagnosticLines) << diagnostics.text();
        ASSERT_TRUE(base::saveProgramOptions(options, folders));
        base::ProgramOptions again;
        base::loadProgramOptions(again, folders);
        EXPECT_EQ(again.picture, c.expected);
    }
}

TEST(ProgramOptions, AFailedSaveLeavesTheOldFileWhole) {
    struct FullDisk : base::FileCalls {
        ssize_t write(int, const void*, std::size_t) override { return errno = ENOSPC, -1; }
    } fullDisk;
    tavrin::testing::TempFolders folders;
    const std::string path = base::optionsFilePath(folders);
    writeText(path, "camera=1\nother=2\n");
    base::ProgramOptions options;
    base::loadProgramOptions(options, folders);
    options.camera = false;
    tavrin::testing::DiagnosticCapture diagnostics;
    EXPECT_FALSE(base::saveProgramOptions(options, folders, fullDisk));
    EXPECT_EQ(readText(path), "camera=1\nother=2\n");
    EXPECT_EQ(diagnostics.count("cannot write"), 1);
    // Nothing is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folders.settingsFolder()))
        ++files;
    EXPECT_EQ(files, 1);
}

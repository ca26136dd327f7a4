// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Settings.h"

#include "fakes/FakeControlWindow.h"
#include "fakes/TempFolders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <tuple>

using namespace tavrin;
using base::Settings;
using tavrin::testing::DiagnosticCapture;
using tavrin::testing::TempFolders;

namespace {

// A settings file written byte by byte from the documented layout, independent
// of the code under test.
struct FileBytes {
    std::vector<uint8_t> b = std::vector<uint8_t>(1352, 0);

    FileBytes& u32(std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
    FileBytes& i32(std::size_t at, int32_t v) { return u32(at, static_cast<uint32_t>(v)); }
    FileBytes& f32(std::size_t at, float v) { return u32(at, std::bit_cast<uint32_t>(v)); }
    FileBytes& f64(std::size_t at, double v) {
        const auto bits = std::bit_cast<uint64_t>(v);
        u32(at, static_cast<uint32_t>(bits));
        return u32(at + 4, static_cast<uint32_t>(bits >> 32));
    }
    FileBytes& text(std::size_t at, std::u16string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            b[at + 2 * i] = static_cast<uint8_t>(s[i]);
            b[at + 2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
        }
        return *this;
    }
    FileBytes& append(std::size_t n, uint8_t value) {
        b.insert(b.end(), n, value);
        return *this;
    }

    // A record that passes every check, with every field away from its default.
    static FileBytes valid(const std::string& outputFolder) {
        FileBytes f;
        f.u32(0, 0x0548040A);
        std::u16string folder(outputFolder.begin(), outputFolder.end()); // ASCII in tests
        f.text(4, folder);
        f.u32(524, 2).i32(528, 7);
        f.text(532, u"Monitor of Null Output").text(788, u"PCM");
        f.b[1044] = 1, f.b[1045] = 1, f.b[1046] = 1, f.b[1047] = 1;
        f.f32(1048, 0.06f).i32(1052, 60).u32(1056, 75);
        f.i32(1060, 512).i32(1064, 300).i32(1068, 768).i32(1072, 200);
        f.u32(1076, 0xDEADBEEF); // the alignment gap: whatever was there stays
        f.f64(1080, 0.5).text(1088, u"FFV1");
        f.i32(1344, 0).u32(1348, 0x12345678);
        // Bytes after a text's terminator are kept too.
        f.b[532 + 2 * 30] = 0x41;
        return f;
    }
};

struct SettingsTest : ::testing::Test {
    DiagnosticCapture diag;
    TempFolders folders;
    Settings settings;

    Settings expectedDefaults() const { return Settings::defaults(folders.desktop); }
    void load() { base::loadSettings(settings, folders); }
};

} // namespace

TEST_F(SettingsTest, FirstStartGivesTheDefaultsAndTheDesktopAsOutputFolder) {
    load();
    EXPECT_EQ(settings.displayMode, 6);
    EXPECT_EQ(settings.splitWindows, 0);
    EXPECT_EQ(settings.pointScaling, 0);
    EXPECT_EQ(settings.alwaysOnTop, 0);
    EXPECT_EQ(settings.shrinkWhenMaximized, 0);
    EXPECT_FLOAT_EQ(settings.maximizedShrink, 0.04f);
    EXPECT_EQ(settings.recordFps, 30);
    EXPECT_EQ(settings.recordScreens, 0u);
    EXPECT_DOUBLE_EQ(settings.videoQuality, 0.85);
    EXPECT_EQ(settings.videoCodec.utf8(), "Microsoft Video 1");
    EXPECT_EQ(settings.audioCompressor.utf8(), "PCM");
    EXPECT_TRUE(settings.audioSource.empty());
    EXPECT_EQ(settings.outputFolder.utf8(), folders.desktop + "/");
    EXPECT_EQ(settings.videoCodecSettingsSize(), 0);
    // The current directory follows the output folder even without a file.
    EXPECT_EQ(folders.currentDirectory, folders.desktop + "/");
    // The folder is made on the first start; no file yet and no size line.
    EXPECT_TRUE(std::filesystem::is_directory(folders.settingsFolder()));
    EXPECT_EQ(diag.count("videoCodecSettingsSize="), 0);

    // The defaults as bytes: magic stored as 0A 04 48 05, the reserved 75.
    const auto bytes = base::encodeSettingsRecord(settings);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0x04);
    EXPECT_EQ(bytes[2], 0x48);
    EXPECT_EQ(bytes[3], 0x05);
    EXPECT_EQ(bytes[1056], 75);
    EXPECT_EQ(bytes[788], 'P');
    EXPECT_EQ(bytes[789], 0);
    EXPECT_EQ(bytes[1088], 'M');
}

TEST_F(SettingsTest, NoDesktopFolderLeavesTheOutputFolderEmpty) {
    folders.desktop.clear();
    load();
    EXPECT_TRUE(settings.outputFolder.empty());
}

TEST_F(SettingsTest, ADesktopPathTooLongForTheRecordIsNotCutShort) {
    folders.desktop = "/" + std::string(259, 'd'); // 260 units with the '/'
    load();
    EXPECT_TRUE(settings.outputFolder.empty());
}

TEST_F(SettingsTest, AValidFileLoadsAndSavesBackByteForByteExceptTheLastWord) {
    const std::string output = folders.root + "/out/";
    std::filesystem::create_directories(output);
    const FileBytes file = FileBytes::valid(output);
    folders.writeSettingsFile(file.b);

    load();
    EXPECT_EQ(settings.outputFolder.utf8(), output);
    EXPECT_EQ(folders.currentDirectory, output);
    EXPECT_EQ(settings.recordScreens, 2u);
    EXPECT_EQ(settings.displayMode, 7);
    EXPECT_EQ(settings.audioSource.utf8(), "Monitor of Null Output");
    EXPECT_EQ(settings.splitWindows, 1);
    EXPECT_EQ(settings.alwaysOnTop, 1);
    EXPECT_EQ(settings.pointScaling, 1);
    EXPECT_EQ(settings.shrinkWhenMaximized, 1);
    EXPECT_FLOAT_EQ(settings.maximizedShrink, 0.06f);
    EXPECT_EQ(settings.recordFps, 60);
    EXPECT_EQ(settings.clientWidth[0], 512);
    EXPECT_EQ(settings.clientWidth[1], 300);
    EXPECT_EQ(settings.clientHeight[0], 768);
    EXPECT_EQ(settings.clientHeight[1], 200);
    EXPECT_DOUBLE_EQ(settings.videoQuality, 0.5);
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1");
    EXPECT_EQ(diag.text(), "videoCodecSettingsSize=0\n");

    base::saveSettings(settings, folders);
    auto saved = folders.readSettingsFile();
    ASSERT_EQ(saved.size(), 1352u);
    for (std::size_t i = 0; i < 1348; ++i)
        ASSERT_EQ(saved[i], file.b[i]) << "offset " << i;
    // No temporary file is left beside it.
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folders.settingsFolder()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

struct RejectedFile {
    const char* name;
    std::function<void(FileBytes&)> damage;
};

struct SettingsRejectionTest : SettingsTest, ::testing::WithParamInterface<RejectedFile> {};

TEST_P(SettingsRejectionTest, LeavesEveryDefaultAndKeepsTheFileAsideBeforeTheNextSave) {
    const std::string output = folders.root + "/out/";
    std::filesystem::create_directories(output);
    FileBytes file = FileBytes::valid(output);
    GetParam().damage(file);
    folders.writeSettingsFile(file.b);
    const std::string damaged = folders.settingsFile() + ".damaged";
    std::ofstream(damaged) << "an older damaged file";

    const std::string notice = base::loadSettings(settings, folders);
    EXPECT_EQ(settings, expectedDefaults());
    EXPECT_EQ(folders.currentDirectory, folders.desktop + "/");
    EXPECT_EQ(diag.count("videoCodecSettingsSize="), 0);
    // Told once (notice and diagnostic line); the kept copy replaced the older one and outlives the save.
    EXPECT_THAT(notice, ::testing::AllOf(::testing::HasSubstr("defaults"), ::testing::HasSubstr(damaged)));
    EXPECT_EQ(diag.count(damaged), 1);
    base::saveSettings(settings, folders);
    std::ifstream in(damaged, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), file.b);
    EXPECT_TRUE(base::parseSettingsFile(folders.readSettingsFile()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsRejectionTest,
    ::testing::Values(
        RejectedFile{"ShortFile", [](FileBytes& f) { f.b.resize(1351); }},
        RejectedFile{"EmptyFile", [](FileBytes& f) { f.b.clear(); }},
        RejectedFile{"WrongMagic", [](FileBytes& f) { f.u32(0, 0x0548040B); }},
        RejectedFile{"DisplayModeZero", [](FileBytes& f) { f.i32(528, 0); }},
        RejectedFile{"QualityAboveOne", [](FileBytes& f) { f.f64(1080, 1.5); }},
        RejectedFile{"QualityBelowZero", [](FileBytes& f) { f.f64(1080, -0.01); }},
        RejectedFile{"QualityNotANumber",
                     [](FileBytes& f) { f.f64(1080, std::numeric_limits<double>::quiet_NaN()); }},
        RejectedFile{"ShrinkAboveLimit", [](FileBytes& f) { f.f32(1048, 0.09f); }},
        RejectedFile{"ShrinkBelowZero", [](FileBytes& f) { f.f32(1048, -0.01f); }},
        RejectedFile{"ShrinkNotANumber",
                     [](FileBytes& f) { f.f32(1048, std::numeric_limits<float>::quiet_NaN()); }},
        RejectedFile{"RecordScreensThree", [](FileBytes& f) { f.u32(524, 3); }},
        RejectedFile{"RecordScreensNegative", [](FileBytes& f) { f.i32(524, -1); }}),
    [](const ::testing::TestParamInfo<RejectedFile>& p) { return std::string(p.param.name); });

TEST_F(SettingsTest, AWindowSizeNoWindowCanHaveBecomesTheLayoutsSizeAndTheRestIsKept) {
    const int32_t cases[][4] = {// stored width, height; loaded width, height
                                {100000, 150000, 0, 0}, {16385, 100, 0, 0}, {100, 16385, 0, 0},
                                {-5, 300, 0, 0},        {512, 0, 0, 0},     {0, 300, 0, 0},
                                {0, 0, 0, 0},           {1, 1, 1, 1},       {16384, 16384, 16384, 16384}};
    for (const auto& c : cases) {
        FileBytes file = FileBytes::valid("");
        folders.writeSettingsFile(file.i32(1060, c[0]).i32(1068, c[1]).b); // slot 0; slot 1 stays 300 x 200
        EXPECT_EQ(base::loadSettings(settings, folders), "");
        EXPECT_EQ(std::make_tuple(settings.clientWidth[0], settings.clientHeight[0], settings.clientWidth[1],
                                  settings.clientHeight[1], settings.recordFps),
                  std::make_tuple(c[2], c[3], 300, 200, 60))
            << c[0] << " x " << c[1];
    }
    EXPECT_EQ(diag.count("is not usable"), 6); // one line for each size replaced
    EXPECT_FALSE(std::filesystem::exists(folders.settingsFile() + ".damaged"));
}

TEST_F(SettingsTest, TheLimitsThemselvesAreAccepted) {
    FileBytes file = FileBytes::valid("");
    file.f64(1080, 1.0).f32(1048, 0.08f).u32(524, 2);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_DOUBLE_EQ(settings.videoQuality, 1.0);
    EXPECT_FLOAT_EQ(settings.maximizedShrink, 0.08f);
    file.f64(1080, 0.0).f32(1048, 0.0f);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_DOUBLE_EQ(settings.videoQuality, 0.0);
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1");
}

TEST_F(SettingsTest, ACodecBlockShorterThanAnnouncedIsDroppedAndTheRecordKept) {
    FileBytes file = FileBytes::valid("");
    file.i32(1344, 100).append(50, 0xAB);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1");
    EXPECT_TRUE(settings.videoCodecSettings.empty());
    EXPECT_EQ(diag.text(), "videoCodecSettingsSize=0\n");
}

TEST_F(SettingsTest, AWholeCodecBlockIsLoadedAndWrittenBack) {
    FileBytes file = FileBytes::valid("");
    file.i32(1344, 100);
    for (int i = 0; i < 100; ++i)
        file.b.push_back(static_cast<uint8_t>(i * 7));
    folders.writeSettingsFile(file.b);
    load();
    ASSERT_EQ(settings.videoCodecSettingsSize(), 100);
    EXPECT_EQ(settings.videoCodecSettings[99], static_cast<uint8_t>(99 * 7));
    EXPECT_EQ(diag.text(), "videoCodecSettingsSize=100\n");

    base::saveSettings(settings, folders);
    const auto saved = folders.readSettingsFile();
    ASSERT_EQ(saved.size(), 1452u);
    EXPECT_TRUE(std::equal(saved.begin() + 1352, saved.end(), file.b.begin() + 1352));
    EXPECT_EQ(saved[1344], 100);
    // The block is released after the save.
    EXPECT_TRUE(settings.videoCodecSettings.empty());
}

TEST_F(SettingsTest, AnImplausiblyLargeCodecBlockIsDroppedWithoutReadingIt) {
    FileBytes file = FileBytes::valid("");
    file.i32(1344, 0x7FFFFFFF).append(64, 1);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1");
    EXPECT_TRUE(settings.videoCodecSettings.empty());
    EXPECT_EQ(diag.text(), "videoCodecSettingsSize=0\n");
}

TEST_F(SettingsTest, ANegativeCodecBlockSizeMeansNone) {
    FileBytes file = FileBytes::valid("");
    file.i32(1344, -5).append(16, 1);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_EQ(settings.videoCodecSettingsSize(), 0);
    EXPECT_EQ(diag.text(), "videoCodecSettingsSize=0\n");
}

TEST_F(SettingsTest, ADeletedOutputFolderLoadsAsEmpty) {
    const std::string output = folders.root + "/gone/";
    FileBytes file = FileBytes::valid(output);
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_TRUE(settings.outputFolder.empty());
    EXPECT_TRUE(folders.currentDirectory.empty()); // never changed
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1"); // the rest of the file is used
}

TEST_F(SettingsTest, ADisplayModeWithoutARealLayoutBecomesTheDualScreenLayout) {
    for (int32_t mode : {-1, 1, 5, 8, 1000}) {
        FileBytes file = FileBytes::valid("");
        file.i32(528, mode);
        folders.writeSettingsFile(file.b);
        load();
        EXPECT_EQ(settings.displayMode, 6) << mode;
        EXPECT_EQ(settings.recordFps, 60) << mode;
    }
}

TEST_F(SettingsTest, AFieldWithoutTerminatorIsReadOnlyToItsWidth) {
    FileBytes file = FileBytes::valid("");
    file.text(1088, std::u16string(128, u'x'));
    folders.writeSettingsFile(file.b);
    load();
    EXPECT_EQ(settings.videoCodec.utf8(), std::string(128, 'x'));
    EXPECT_EQ(settings.audioSource.utf8().substr(0, 7), "Monitor");
}

TEST_F(SettingsTest, SavingCreatesTheFoldersWhenMissing) {
    folders.config = folders.root + "/fresh/config";
    settings = expectedDefaults();
    settings.recordFps = 20;
    base::saveSettings(settings, folders);
    ASSERT_TRUE(folders.settingsFileExists());
    Settings again;
    base::loadSettings(again, folders);
    EXPECT_EQ(again.recordFps, 20);
}

TEST_F(SettingsTest, SavingOverAFileKeepsItsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no POSIX modes: access follows the folder's";
#endif
    settings = expectedDefaults();
    base::saveSettings(settings, folders);
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(folders.settingsFile()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    const auto shared =
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(folders.settingsFile(), shared);
    base::saveSettings(settings, folders);
    EXPECT_EQ(fs::status(folders.settingsFile()).permissions(), shared);
}

TEST_F(SettingsTest, AFailedSaveLeavesNoTemporaryFileAndReleasesTheBlock) {
    // The file's name is taken by a folder, so the final rename fails.
    std::filesystem::create_directories(folders.settingsFile());
    settings = expectedDefaults();
    settings.videoCodecSettings.assign(10, 7);
    base::saveSettings(settings, folders);
    EXPECT_TRUE(std::filesystem::is_directory(folders.settingsFile()));
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folders.settingsFolder()))
        ++entries;
    EXPECT_EQ(entries, 1);
    EXPECT_TRUE(settings.videoCodecSettings.empty());
    EXPECT_EQ(diag.count("saveSettings: cannot write"), 1);
}

TEST_F(SettingsTest, WithoutAConfigurationFolderTheDefaultsStayAndNothingIsWritten) {
    folders.config.clear();
    load();
    EXPECT_EQ(settings, expectedDefaults());
    base::saveSettings(settings, folders);
    EXPECT_FALSE(std::filesystem::exists(folders.root + "/Tavrin Capture"));
}

TEST_F(SettingsTest, ANonUtf8OutputFolderSurvivesTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names are UTF-16: a name that is not valid UTF-8 cannot exist there";
#endif
    const std::string output = folders.root + "/caf\xE9-\xFF/"; // Latin-1 bytes, not UTF-8
    std::filesystem::create_directories(output);
    settings = expectedDefaults();
    ASSERT_TRUE(settings.outputFolder.assign(output));
    base::saveSettings(settings, folders);
    Settings again;
    base::loadSettings(again, folders);
    EXPECT_EQ(again.outputFolder.utf8(), output);
    EXPECT_EQ(folders.currentDirectory, output);
}

namespace {

// The file system calls of a save, logged, with a fault put in on demand.
struct FaultyFileCalls : base::FileCalls {
    std::size_t writable = SIZE_MAX; // then writes fail with ENOSPC
    bool syncFails = false, renameFails = false;
    std::string log; // "t" temporary file, "w" write, "s" sync, "r" rename

    int makeTemporary(std::string& path) override { return log += 't', FileCalls::makeTemporary(path); }
    ssize_t write(int fd, const void* data, std::size_t size) override {
        log += 'w';
        const ssize_t n =
            writable ? FileCalls::write(fd, data, std::min(size, writable)) : (errno = ENOSPC, -1);
        writable -= n > 0 ? static_cast<std::size_t>(n) : 0;
        return n;
    }
    int sync(int fd) override { return log += 's', syncFails ? (errno = EIO, -1) : FileCalls::sync(fd); }
    int rename(const std::string& a, const std::string& b) override {
        return log += 'r', renameFails ? (errno = EXDEV, -1) : FileCalls::rename(a, b);
    }
};

} // namespace

TEST_F(SettingsTest, ASaveThatFailsPartWayLeavesTheOldFileWholeAndTheNewOneIsSyncedBeforeTheRename) {
    const std::function<void(FaultyFileCalls&)> faults[] = {
        [](FaultyFileCalls& c) { c.writable = 0; }, [](FaultyFileCalls& c) { c.writable = 700; },
        [](FaultyFileCalls& c) { c.writable = 1400; }, [](FaultyFileCalls& c) { c.syncFails = true; },
        [](FaultyFileCalls& c) { c.renameFails = true; }};
    const FileBytes old = FileBytes::valid("");
    for (std::size_t i = 0; i < std::size(faults); ++i) {
        folders.writeSettingsFile(old.b);
        settings = expectedDefaults();
        settings.videoCodecSettings.assign(100, 9);
        FaultyFileCalls calls;
        faults[i](calls);
        base::saveSettings(settings, folders, calls);
        EXPECT_EQ(folders.readSettingsFile(), old.b) << "fault " << i;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folders.settingsFolder()), {}), 1)
            << "fault " << i << ": a temporary file was left";
    }
    FaultyFileCalls calls;
    base::saveSettings(settings, folders, calls);
    EXPECT_EQ(calls.log, "twsr");
    EXPECT_TRUE(base::parseSettingsFile(folders.readSettingsFile()).has_value());
}

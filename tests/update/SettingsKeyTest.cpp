// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/SettingsKey.h"

#include "base/Os.h"

#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <utility>

using tavrin::testing::TempDir;
using tavrin::update::SettingsKey;

TEST(SettingsKey, ANewKeyIsCreatedWithItsFoldersAndReadsZeroUntilWritten) {
    TempDir dir;
    const std::string folder = dir.folder() + "config/Tavrin Capture/";
    bool created = false;
    auto key = SettingsKey::open(folder, created);
    ASSERT_TRUE(key);
    EXPECT_TRUE(created);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(key->readDword("LastChecked"), 0u);

    ASSERT_TRUE(key->writeDword("LastChecked", 4000000000u));
    ASSERT_TRUE(key->writeDword("LastVersionSeen", 5));
    ASSERT_TRUE(key->writeDword("LastChecked", 17));
    key.reset();

    key = SettingsKey::open(folder, created);
    ASSERT_TRUE(key);
    EXPECT_FALSE(created);
    EXPECT_EQ(key->readDword("LastChecked"), 17u);
    EXPECT_EQ(key->readDword("LastVersionSeen"), 5u);
    EXPECT_EQ(key->readDword("DisableUpdateCheck"), 0u);
    // Every write replaced the file: no temporary file is left beside it.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(SettingsKey, ReadsValuesAPersonEditedAndTreatsDamagedOnesAsMissing) {
    TempDir dir;
    dir.write(
        SettingsKey::kFileName,
        "# edited by hand\n DisableUpdateCheck = 1 \nLastChecked=0x10\nLastVersionSeen=abc\nBig=99999999999\n"
        "Negative=-1\nUnknown=7\n");
    bool created = true;
    auto key = SettingsKey::open(dir.folder(), created);
    ASSERT_TRUE(key);
    EXPECT_FALSE(created);
    EXPECT_EQ(key->readDword("DisableUpdateCheck"), 1u);
    EXPECT_EQ(key->readDword("LastChecked"), 16u);
    EXPECT_EQ(key->readDword("LastVersionSeen"), 0u);
    EXPECT_EQ(key->readDword("Big"), 0u);
    EXPECT_EQ(key->readDword("Negative"), 0u);
    // A write keeps the other values, the ones this program does not know included.
    ASSERT_TRUE(key->writeDword("LastVersionSeen", 3));
    EXPECT_EQ(key->readDword("DisableUpdateCheck"), 1u);
    EXPECT_EQ(key->readDword("Unknown"), 7u);
    EXPECT_EQ(key->readDword("LastVersionSeen"), 3u);
}

TEST(SettingsKey, AFolderThatCannotBeMadeOpensNoKey) {
    TempDir dir;
    dir.write("plain-file", "x");
    bool created = false;
    EXPECT_FALSE(SettingsKey::open(dir.folder() + "plain-file/Tavrin Capture/", created));
    EXPECT_FALSE(SettingsKey::open("", created));
}

TEST(SettingsKey, LivesBesideTheSettingsFile) {
    tavrin::testing::TempFolders folders;
    EXPECT_EQ(SettingsKey::folderIn(folders), folders.settingsFolder() + "/");
    folders.config.clear();
    EXPECT_EQ(SettingsKey::folderIn(folders), "");
}

TEST(SettingsKey, WhereARegistryExistsTheValuesAreDwordsOfAKeyOfTheUser) {
    tavrin::testing::TempFolders folders;
    if (!tavrin::base::os::hasUserRegistry()) {
        // Elsewhere the values stay in the file beside the settings.
        EXPECT_EQ(SettingsKey::placeIn(folders), SettingsKey::folderIn(folders));
        GTEST_SKIP() << "this system has no registry";
    }
    EXPECT_EQ(SettingsKey::placeIn(folders), "HKEY_CURRENT_USER\\Software\\TavrinCapture\\");

    // A key of this test's own, so that a run leaves the program's values alone.
    const std::string subKey = "Software\\TavrinCaptureTest" + std::to_string(std::random_device{}());
    const std::string place = std::string(SettingsKey::kUserRegistryRoot) + subKey + "\\";
    struct Removal {
        std::string key;
        ~Removal() { tavrin::base::os::removeUserKey(key); }
    } removal{subKey};

    bool created = false;
    auto key = SettingsKey::open(place, created);
    ASSERT_TRUE(key);
    EXPECT_TRUE(created);
    EXPECT_EQ(key->path(), place);
    EXPECT_EQ(key->readDword("LastChecked"), 0u);
    // The whole unsigned range survives, each value under its own name.
    const std::pair<const char*, uint32_t> values[] = {{"DisableUpdateCheck", 0u},
                                                       {"LastChecked", 4000000000u},
                                                       {"LastVersionSeen", 0x7FFFFFFFu},
                                                       {"Highest", 0xFFFFFFFFu},
                                                       {"One", 1u}};
    for (const auto& [name, value] : values)
        ASSERT_TRUE(key->writeDword(name, value)) << name;
    ASSERT_TRUE(key->writeDword("One", 1u)); // written twice, kept once
    key.reset();

    key = SettingsKey::open(place, created);
    ASSERT_TRUE(key);
    EXPECT_FALSE(created);
    for (const auto& [name, value] : values) {
        EXPECT_EQ(key->readDword(name), value) << name;
        uint32_t raw = 0;
        EXPECT_TRUE(tavrin::base::os::readUserDword(subKey, name, raw)) << name << " is a REG_DWORD";
        EXPECT_EQ(raw, value) << name;
    }
    EXPECT_EQ(key->readDword("Missing"), 0u);
    // The registry keeps them: no file appears in the config folder.
    EXPECT_FALSE(std::filesystem::exists(SettingsKey::folderIn(folders) + SettingsKey::kFileName));

    // A place that names no key below the user's: no key.
    for (const std::string& bad :
         {std::string(SettingsKey::kUserRegistryRoot), std::string(SettingsKey::kUserRegistryRoot) + subKey})
        EXPECT_FALSE(SettingsKey::open(bad, created)) << bad;
}

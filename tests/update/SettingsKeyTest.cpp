// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/SettingsKey.h"

#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

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

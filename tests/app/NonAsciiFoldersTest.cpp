// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Os.h"
#include "base/Settings.h"
#include "fakes/FakeScreenshotPorts.h"
#include "fakes/TempFolders.h"
#include "screenshot/NumberedName.h"
#include "screenshot/SavePng.h"
#include "update/SettingsKey.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace tavrin;
namespace os = tavrin::base::os;

// Settings, update-check values and screenshots in folders whose names no ANSI code
// page holds: what the program writes lands under those names, byte for byte, and
// reads back.
TEST(NonAsciiFolders, SettingsUpdateValuesAndScreenshotsLiveThere) {
    tavrin::testing::TempFolders folders;
    folders.config = folders.root + "/Configuración 設定";
    folders.desktop = folders.root + "/Рабочий стол é";
    ASSERT_TRUE(std::filesystem::create_directories(os::toPath(folders.desktop)));

    base::Settings settings;
    base::loadSettings(settings, folders);
    const std::string output = folders.desktop + "/";
    EXPECT_EQ(settings.outputFolder.utf8(), output);
    settings.recordFps = 20;
    base::saveSettings(settings, folders);
    EXPECT_TRUE(std::filesystem::is_regular_file(os::toPath(folders.config) / "Tavrin Capture" /
                                                 "tavrin_capture.cfg"));
    base::Settings again;
    EXPECT_EQ(base::loadSettings(again, folders), "");
    EXPECT_EQ(again.outputFolder.utf8(), output);
    EXPECT_EQ(again.recordFps, 20);

    // Each write replaces the file the one before made.
    bool created = false;
    auto key = update::SettingsKey::open(update::SettingsKey::folderIn(folders), created);
    ASSERT_TRUE(key);
    EXPECT_TRUE(created);
    for (uint32_t value : {7u, 8u})
        ASSERT_TRUE(key->writeDword("LastChecked", value)) << value;
    EXPECT_EQ(key->readDword("LastChecked"), 8u);

    // Pixels with line-end bytes: a file opened as text would change them.
    const uint8_t pixels[6] = {'\n', '\r', '\n', 0x1a, 0, '\n'};
    tavrin::testing::FakePngEncoder encoder;
    uint32_t counter = 0;
    const std::string name = screenshot::nextNumberedName(counter, ".png", output);
    ASSERT_EQ(name, "00000.png");
    ASSERT_EQ(screenshot::savePng(encoder, output + name, pixels, 2, 1), 0);
    std::ifstream in(os::toPath(output + name), std::ios::binary);
    const std::string written(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(written, std::string("FAKEPNG 2x1\n") + std::string(reinterpret_cast<const char*>(pixels), 6));
    EXPECT_EQ(screenshot::nextNumberedName(counter, ".png", output), "00001.png");
    EXPECT_EQ(screenshot::savePng(encoder, output + name, pixels, 2, 1), screenshot::kPngFileError)
        << "an existing file is never overwritten";
}

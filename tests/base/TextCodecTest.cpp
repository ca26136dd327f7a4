// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/TextCodec.h"
#include "base/FixedText.h"
#include "base/XdgUserFolders.h"

#include <gtest/gtest.h>

using namespace tavrin::base;

TEST(TextCodec, ConvertsEveryPlaneBothWays) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAE"; // a, e-acute, euro, game controller
    const std::u16string wide = utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83C, 0xDFAE}));
    EXPECT_EQ(utf16ToUtf8(wide), text);
}

TEST(TextCodec, InvalidUtf8BytesRoundTripUnchanged) {
    for (const std::string& text : {std::string("\xFF\xFE"), std::string("ab\xC3"), std::string("\xC0\xAF"),
                                    std::string("\xED\xA0\x80"), std::string("x\xF4\x90\x80\x80y")}) {
        const std::u16string wide = utf8ToUtf16(text);
        EXPECT_EQ(utf16ToUtf8(wide), text);
    }
}

TEST(TextCodec, LoneSurrogatesFromAFileBecomeReplacementCharacters) {
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xD800, u'a'}), "\xEF\xBF\xBD"
                                                         "a");
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

TEST(FixedText, RefusesTextThatDoesNotFitWithItsTerminator) {
    FixedText<4> t;
    EXPECT_TRUE(t.assign(std::string_view("abc")));
    EXPECT_FALSE(t.assign(std::string_view("abcd")));
    EXPECT_EQ(t.utf8(), "abc");
    // A shorter text clears what the longer one left behind.
    EXPECT_TRUE(t.assign(std::string_view("z")));
    EXPECT_EQ(t.units[1], u'\0');
    EXPECT_EQ(t.units[2], u'\0');
}

TEST(XdgUserFolders, ReadsTheDesktopEntryOfUserDirs) {
    const std::string text = "# written by xdg-user-dirs-update\n"
                             "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    EXPECT_EQ(XdgUserFolders::parseDesktopDir(text, "/home/ana"), "/home/ana/Schreibtisch");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("XDG_DESKTOP_DIR=\"/srv/desk/\"", "/home/ana"), "/srv/desk");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"", "/h"),
              "/h/My \"Desk\"");
}

TEST(XdgUserFolders, IgnoresMalformedDesktopEntries) {
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("", "/home/ana"), "");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("XDG_DESKTOP_DIR=\"Desktop\"", "/home/ana"), "");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("XDG_DESKTOP_DIR=\"$HOME/Desk", "/home/ana"), "");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("#XDG_DESKTOP_DIR=\"/x\"", "/home/ana"), "");
    EXPECT_EQ(XdgUserFolders::parseDesktopDir("XDG_DESKTOP_DIR=\"$HOMEDIR/x\"", "/home/ana"), "");
}

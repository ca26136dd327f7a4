// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/DisplayWindowActions.h"

#include "fakes/FakeControlWindow.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::display;

namespace {

// A window that queues posted commands and tracks its full-screen state and z-order.
class FakeHost : public DisplayWindowHost {
  public:
    void postCommand(int32_t id) override { posted.push_back(id); }
    bool inFullScreen() const override { return fullScreen; }
    void enterFullScreen() override {
        fullScreen = true;
        topmost = true;
        ++enters;
    }
    void leaveFullScreen(bool onTop) override {
        fullScreen = false;
        topmost = onTop;
        ++leaves;
    }
    std::string topmostUnavailable() const override { return noTopmost; }
    void pictureChanged(bool shape) override { changes.push_back(shape); }

    std::vector<int32_t> posted;
    bool fullScreen = false;
    bool topmost = false;
    int enters = 0;
    int leaves = 0;
    std::string noTopmost;
    std::vector<bool> changes; // one per change of the picture options: did its shape change
};

struct ActionsTest : ::testing::Test {
    ActionsTest() { link.set(&control); }

    // Runs what the window would have posted to itself, as its event loop would.
    void deliverPosted() {
        std::vector<int32_t> queued;
        queued.swap(host.posted);
        for (int32_t id : queued)
            EXPECT_TRUE(actions.command(id));
    }

    const MenuEntry& scalingItem(const std::vector<MenuEntry>& menu, int32_t id) {
        for (const MenuEntry& e : menu[1].children)
            if (e.id == id)
                return e;
        throw std::runtime_error("no such item");
    }

    base::Settings settings;
    PictureOptions picture;
    tavrin::testing::FakeControlWindow control;
    base::MessageLink link;
    FakeHost host;
    DisplayWindowActions actions{settings, picture, link, host};
};

} // namespace

TEST_F(ActionsTest, ContextMenuTextsIdsAndCheckMarks) {
    std::vector<MenuEntry> menu = actions.contextMenu();
    ASSERT_EQ(menu.size(), 10u); // the four of the plain menu first, then the picture options
    EXPECT_EQ(menu[0].text, "Always on top\tF3");
    EXPECT_EQ(menu[0].id, 40026);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_EQ(menu[1].kind, MenuEntry::Submenu);
    EXPECT_EQ(menu[1].text, "Scaling\tF4");
    ASSERT_EQ(menu[1].children.size(), 2u);
    EXPECT_EQ(menu[1].children[0].text, "Bilinear");
    EXPECT_EQ(menu[1].children[0].id, 40022);
    EXPECT_EQ(menu[1].children[1].text, "Point");
    EXPECT_EQ(menu[1].children[1].id, 40023);
    EXPECT_TRUE(scalingItem(menu, 40022).checked);
    EXPECT_FALSE(scalingItem(menu, 40023).checked);
    EXPECT_EQ(menu[2].kind, MenuEntry::Separator);
    EXPECT_EQ(menu[3].text, "Full Screen\tAlt+Enter");
    EXPECT_EQ(menu[3].id, 40027);
    EXPECT_FALSE(menu[3].checked);

    settings.alwaysOnTop = 1;
    settings.pointScaling = 1;
    host.fullScreen = true;
    menu = actions.contextMenu();
    EXPECT_TRUE(menu[0].checked);
    EXPECT_FALSE(scalingItem(menu, 40022).checked);
    EXPECT_TRUE(scalingItem(menu, 40023).checked);
    EXPECT_TRUE(menu[3].checked);
}

TEST_F(ActionsTest, F4TwiceBringsTheFilterBackAndTheCheckMarkFollows) {
    actions.keyDown(DisplayKey::F4);
    EXPECT_EQ(host.posted, std::vector<int32_t>{ID_SCALING_POINT});
    EXPECT_EQ(settings.pointScaling, 0) << "the key posts; the command changes the setting";
    deliverPosted();
    EXPECT_EQ(settings.pointScaling, 1);
    EXPECT_TRUE(scalingItem(actions.contextMenu(), 40023).checked);

    actions.keyDown(DisplayKey::F4);
    EXPECT_EQ(host.posted, std::vector<int32_t>{ID_SCALING_BILINEAR});
    deliverPosted();
    EXPECT_EQ(settings.pointScaling, 0);
    EXPECT_TRUE(scalingItem(actions.contextMenu(), 40022).checked);
    EXPECT_TRUE(control.messages().empty()) << "scaling asks nothing of the control window";
}

TEST_F(ActionsTest, F3TogglesAlwaysOnTopAndTellsTheControlWindow) {
    actions.keyDown(DisplayKey::F3);
    EXPECT_EQ(host.posted, std::vector<int32_t>{ID_ALWAYS_ON_TOP});
    deliverPosted();
    EXPECT_EQ(settings.alwaysOnTop, 1);
    actions.keyDown(DisplayKey::F3);
    deliverPosted();
    EXPECT_EQ(settings.alwaysOnTop, 0);
    auto msgs = control.messages();
    ASSERT_EQ(msgs.size(), 2u);
    for (auto& m : msgs) {
        EXPECT_EQ(m.message, base::UM_TOPMOST);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
    }
}

// Where the window system has no "keep above" (Wayland), the item says why and
// neither it nor F3 changes the stored choice, which a desktop with it still uses.
TEST_F(ActionsTest, AlwaysOnTopUnavailableIsShownSoAndChangesNothing) {
    settings.alwaysOnTop = 1;
    host.noTopmost = "no keep above here";
    const MenuEntry item = actions.contextMenu()[0];
    EXPECT_EQ(item.id, ID_ALWAYS_ON_TOP);
    EXPECT_FALSE(item.enabled);
    EXPECT_FALSE(item.checked);
    EXPECT_EQ(item.tip, "no keep above here");
    actions.keyDown(DisplayKey::F3);
    deliverPosted();
    EXPECT_EQ(settings.alwaysOnTop, 1);
    EXPECT_TRUE(control.messages().empty());

    host.noTopmost.clear();
    EXPECT_TRUE(actions.contextMenu()[0].enabled);
    EXPECT_TRUE(actions.contextMenu()[0].checked);
}

TEST_F(ActionsTest, F12AndClosingPostToTheControlWindow) {
    actions.keyDown(DisplayKey::F12);
    actions.closeRequested();
    auto msgs = control.messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].message, base::WM_SYSCOMMAND);
    EXPECT_EQ(msgs[0].wParam, 0u);
    EXPECT_EQ(msgs[0].lParam, 0);
    EXPECT_EQ(msgs[1].message, base::WM_CLOSE);
    EXPECT_TRUE(host.posted.empty());
}

TEST_F(ActionsTest, FullScreenTogglesAndEscapeAlwaysRestores) {
    settings.alwaysOnTop = 0;
    actions.keyDown(DisplayKey::AltEnter);
    EXPECT_TRUE(host.fullScreen);
    EXPECT_TRUE(host.topmost) << "full screen is on top whatever the setting says";
    EXPECT_FALSE(actions.dragAllowed());
    actions.keyDown(DisplayKey::AltEnter);
    EXPECT_FALSE(host.fullScreen);
    EXPECT_FALSE(host.topmost);
    EXPECT_TRUE(actions.dragAllowed());

    EXPECT_TRUE(actions.command(ID_FULL_SCREEN));
    EXPECT_TRUE(host.fullScreen);
    actions.keyDown(DisplayKey::Escape);
    EXPECT_FALSE(host.fullScreen);

    // Esc in a normal window re-applies the frame and the z-order of alwaysOnTop.
    settings.alwaysOnTop = 1;
    const int leavesBefore = host.leaves;
    actions.keyDown(DisplayKey::Escape);
    EXPECT_EQ(host.leaves, leavesBefore + 1);
    EXPECT_FALSE(host.fullScreen);
    EXPECT_TRUE(host.topmost);
}

TEST_F(ActionsTest, OtherCommandsAreNotOurs) {
    EXPECT_FALSE(actions.command(40024));
    EXPECT_FALSE(actions.command(0));
    EXPECT_EQ(settings.pointScaling, 0);
    EXPECT_EQ(settings.alwaysOnTop, 0);
    EXPECT_EQ(host.enters, 0);
}

TEST_F(ActionsTest, NothingIsPostedBeforeTheControlWindowExists) {
    base::MessageLink unset;
    DisplayWindowActions early(settings, picture, unset, host);
    early.keyDown(DisplayKey::F12);
    early.closeRequested();
    EXPECT_TRUE(control.messages().empty());
}

// The picture options from the menu and F6: each command changes its option, the
// windows are told whether the picture's shape changed, and a command that changes
// nothing tells nobody. A stored gap that is not a choice is listed, checked.
TEST_F(ActionsTest, PictureOptionsFromTheMenuAndF6) {
    picture.gap = 12;
    std::vector<MenuEntry> menu = actions.contextMenu();
    ASSERT_EQ(menu.size(), 10u);
    EXPECT_EQ(menu[5].text, "Arrangement");
    EXPECT_EQ(menu[6].text, "Screen gap");
    ASSERT_EQ(menu[6].children.size(), kGapChoices.size() + 1);
    EXPECT_EQ(menu[6].children.back().text, "12 pixels");
    EXPECT_TRUE(menu[6].children.back().checked);
    EXPECT_EQ(menu[7].text, "Swap screens\tF6");
    EXPECT_EQ(menu[8].children[1].text, "90\u00b0");

    struct Step {
        int32_t id;
        bool shape;
    };
    for (const Step& step : {Step{ID_ARRANGE_SIDE_BY_SIDE, true}, Step{ID_GAP_FIRST + 2, true},
                             Step{ID_ROTATION_FIRST + 1, true}, Step{ID_INTEGER_SCALING, false}}) {
        host.changes.clear();
        EXPECT_TRUE(actions.command(step.id));
        EXPECT_EQ(host.changes, std::vector<bool>{step.shape}) << step.id;
    }
    EXPECT_EQ(picture, (PictureOptions{Arrangement::SideBySide, 16, false, 90, true}));
    host.changes.clear();
    EXPECT_TRUE(actions.command(ID_ROTATION_FIRST + 1)); // already so
    EXPECT_TRUE(host.changes.empty());

    actions.keyDown(DisplayKey::F6);
    deliverPosted();
    EXPECT_TRUE(picture.swap);
    EXPECT_EQ(host.changes, std::vector<bool>{false});
    menu = actions.contextMenu();
    EXPECT_TRUE(menu[7].checked);
    EXPECT_TRUE(menu[5].children[1].checked);
    EXPECT_TRUE(menu[6].children[2].checked);
    EXPECT_EQ(menu[6].children.size(), kGapChoices.size()) << "16 is a choice";
    EXPECT_TRUE(menu[8].children[1].checked);
    EXPECT_TRUE(menu[9].checked);
    EXPECT_TRUE(control.messages().empty()) << "the control window is not involved";
}

TEST_F(ActionsTest, ShareAsCameraIsACheckItemOfTheProgramOptionsThatTellsTheControlWindow) {
    // Without the program's options (a build with no camera) there is no such item.
    EXPECT_FALSE(actions.command(ID_SHARE_AS_CAMERA));
    EXPECT_TRUE(control.messages().empty());

    base::ProgramOptions options;
    options.inBuild.camera = true;
    DisplayWindowActions withCamera{settings, picture, link, host, &options};
    std::vector<MenuEntry> menu = withCamera.contextMenu();
    ASSERT_EQ(menu.size(), 12u);
    EXPECT_EQ(menu[3].id, ID_FULL_SCREEN) << "the items before it stay where they were";
    EXPECT_EQ(menu[10].kind, MenuEntry::Separator);
    EXPECT_EQ(menu[11].text, "Share as camera");
    EXPECT_EQ(menu[11].id, ID_SHARE_AS_CAMERA);
    EXPECT_TRUE(menu[11].checked) << "on by default";

    EXPECT_TRUE(withCamera.command(ID_SHARE_AS_CAMERA));
    EXPECT_FALSE(options.camera);
    EXPECT_FALSE(withCamera.contextMenu()[11].checked);
    EXPECT_TRUE(withCamera.command(ID_SHARE_AS_CAMERA));
    EXPECT_TRUE(options.camera);
    auto msgs = control.messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].message, base::UM_CAMERA);
    EXPECT_EQ(msgs[1].message, base::UM_CAMERA);
    EXPECT_FALSE(withCamera.command(ID_LISTEN)) << "no listening in this build";
}

TEST_F(ActionsTest, ListenIsACheckItemAndF7ThatTellTheControlWindow) {
    base::ProgramOptions options;
    options.inBuild = {true, true};
    DisplayWindowActions both{settings, picture, link, host, &options};
    std::vector<MenuEntry> menu = both.contextMenu();
    ASSERT_EQ(menu.size(), 13u);
    EXPECT_EQ(menu[11].id, ID_SHARE_AS_CAMERA);
    EXPECT_EQ(menu[12].text, "Listen\tF7");
    EXPECT_EQ(menu[12].id, ID_LISTEN);
    EXPECT_FALSE(menu[12].checked) << "off by default: a microphone would echo";

    both.keyDown(DisplayKey::F7);
    ASSERT_EQ(host.posted, std::vector<int32_t>{ID_LISTEN});
    host.posted.clear();
    EXPECT_TRUE(both.command(ID_LISTEN));
    EXPECT_TRUE(options.listen);
    EXPECT_TRUE(both.contextMenu()[12].checked);
    EXPECT_TRUE(both.command(ID_LISTEN));
    EXPECT_FALSE(options.listen);
    EXPECT_TRUE(options.camera) << "the camera switch is its own";
    auto msgs = control.messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].message, base::UM_LISTEN);
    EXPECT_EQ(msgs[1].message, base::UM_LISTEN);

    // A build that can listen but has no camera: one separator, then Listen alone.
    options.inBuild = {false, true};
    menu = both.contextMenu();
    ASSERT_EQ(menu.size(), 12u);
    EXPECT_EQ(menu[10].kind, MenuEntry::Separator);
    EXPECT_EQ(menu[11].id, ID_LISTEN);
    EXPECT_FALSE(both.command(ID_SHARE_AS_CAMERA));
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/DisplayWindowSet.h"

#include "device/FrameQueue.h"
#include "display/HeldFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrin;
using namespace tavrin::display;

namespace {

struct Log {
    std::vector<std::string> events;
};

class FakeWindow : public DisplayWindowHandle {
  public:
    FakeWindow(Log& log, DisplayWindowPlan plan) : log_(log), plan(std::move(plan)) {}
    ~FakeWindow() override {
        held.clear();
        log_.events.push_back("destroy " + plan.title);
    }
    void present(device::FrameRef frame) override { held.present(std::move(frame)); }
    void setTopmost(bool on) override {
        log_.events.push_back(plan.title + (on ? " topmost" : " not topmost"));
    }
    void bringToFront() override { log_.events.push_back("front " + plan.title); }

    Log& log_;
    DisplayWindowPlan plan;
    HeldFrame held;
};

class FakeFactory : public DisplayWindowFactory {
  public:
    explicit FakeFactory(Log& log) : log_(log) {}
    std::unique_ptr<DisplayWindowHandle> createDisplayWindow(const DisplayWindowPlan& plan) override {
        log_.events.push_back("create " + plan.title);
        created.push_back(plan);
        if (failSlot == plan.windowSlot)
            return nullptr;
        return std::make_unique<FakeWindow>(log_, plan);
    }
    void fatalError(const char* text) override { fatal.push_back(text); }
    ScreenArea screenArea() override { return area; }

    Log& log_;
    std::vector<DisplayWindowPlan> created;
    std::vector<std::string> fatal;
    int failSlot = -1;
    ScreenArea area;
};

struct WindowSetTest : ::testing::Test {
    FakeWindow& window(DisplayTarget* t) { return *static_cast<FakeWindow*>(t); }

    Log log;
    base::Settings settings;
    FakeFactory factory{log};
    DisplayWindowSet set{settings, factory};
};

} // namespace

TEST_F(WindowSetTest, WindowsPerLayoutWithTitlesPartsSizesAndSlots) {
    set.applyDisplayMode(6, false);
    ASSERT_NE(set.mainDisplay(), nullptr);
    EXPECT_EQ(set.bottomDisplay(), nullptr);
    DisplayWindowPlan s = window(set.mainDisplay()).plan;
    EXPECT_EQ(s.title, "Tavrin Capture - Single");
    EXPECT_EQ(s.part, PART_WHOLE);
    EXPECT_EQ(s.width, 256);
    EXPECT_EQ(s.height, 384);
    EXPECT_EQ(s.windowSlot, 0);

    set.applyDisplayMode(6, true);
    ASSERT_NE(set.mainDisplay(), nullptr);
    ASSERT_NE(set.bottomDisplay(), nullptr);
    s = window(set.mainDisplay()).plan;
    EXPECT_EQ(s.title, "Tavrin Capture - Top");
    EXPECT_EQ(s.part, PART_TOP);
    EXPECT_EQ(s.width, 256);
    EXPECT_EQ(s.height, 192);
    EXPECT_EQ(s.windowSlot, 0);
    s = window(set.bottomDisplay()).plan;
    EXPECT_EQ(s.title, "Tavrin Capture - Bottom");
    EXPECT_EQ(s.part, PART_BOTTOM);
    EXPECT_EQ(s.height, 192);
    EXPECT_EQ(s.windowSlot, 1);

    set.applyDisplayMode(7, true);
    EXPECT_EQ(set.bottomDisplay(), nullptr) << "the single-screen layout ignores the split flag";
    s = window(set.mainDisplay()).plan;
    EXPECT_EQ(s.title, "Pellan Capture");
    EXPECT_EQ(s.width, 240);
    EXPECT_EQ(s.height, 160);
    EXPECT_EQ(settings.displayMode, 7);
    EXPECT_EQ(settings.splitWindows, 1) << "stored unchanged";
    EXPECT_TRUE(factory.fatal.empty());
}

TEST_F(WindowSetTest, OldWindowsGoBottomFirstBeforeNewOnesAreMadeMainFirst) {
    set.applyDisplayMode(6, true);
    log.events.clear();
    set.applyDisplayMode(6, false);
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"destroy Tavrin Capture - Bottom", "destroy Tavrin Capture - Top",
                                        "create Tavrin Capture - Single"}));
    log.events.clear();
    set.destroyDisplayWindows();
    EXPECT_EQ(log.events, std::vector<std::string>{"destroy Tavrin Capture - Single"});
    EXPECT_EQ(set.mainDisplay(), nullptr);
}

TEST_F(WindowSetTest, SavedSizesAreUsedForTheStoredLayoutAndForgottenForAnother) {
    settings.displayMode = 6;
    settings.splitWindows = 1;
    settings.clientWidth[0] = 512;
    settings.clientHeight[0] = 384;
    settings.clientWidth[1] = 600;
    settings.clientHeight[1] = 450;
    set.applyDisplayMode(6, true); // as at start-up
    ASSERT_EQ(factory.created.size(), 2u);
    EXPECT_EQ(factory.created[0].clientWidth, 512);
    EXPECT_EQ(factory.created[0].clientHeight, 384);
    EXPECT_EQ(factory.created[1].clientWidth, 600);
    EXPECT_EQ(factory.created[1].clientHeight, 450);

    set.applyDisplayMode(6, false); // the split flag changed: native sizes
    EXPECT_EQ(factory.created.back().clientWidth, 256);
    EXPECT_EQ(factory.created.back().clientHeight, 384);
    EXPECT_EQ(settings.clientWidth[0], 256);
    EXPECT_EQ(settings.clientHeight[0], 384);
    EXPECT_EQ(settings.clientWidth[1], 0);

    settings.clientWidth[0] = 768;
    settings.clientHeight[0] = 1152;
    set.applyDisplayMode(6, false); // same layout again: the saved size stays
    EXPECT_EQ(factory.created.back().clientWidth, 768);
    set.applyDisplayMode(7, false);
    EXPECT_EQ(factory.created.back().clientWidth, 240);
    EXPECT_EQ(factory.created.back().clientHeight, 160);
}

TEST_F(WindowSetTest, ALayoutWithoutAPictureShowsTheDualScreenInstead) {
    for (int id : {0, 3, 8, -1, 1000}) {
        set.applyDisplayMode(id, false);
        ASSERT_NE(set.mainDisplay(), nullptr) << id;
        EXPECT_EQ(window(set.mainDisplay()).plan.width, 256) << id;
        EXPECT_EQ(settings.displayMode, 6) << id;
    }
}

TEST_F(WindowSetTest, CreationFailuresNameTheWindow) {
    factory.failSlot = 1;
    set.applyDisplayMode(6, true);
    EXPECT_EQ(factory.fatal, std::vector<std::string>{"display2.init() fail"});
    factory.failSlot = 0;
    factory.fatal.clear();
    set.applyDisplayMode(6, false);
    EXPECT_EQ(factory.fatal, std::vector<std::string>{"display1.init() fail"});
}

TEST_F(WindowSetTest, TopmostAndFocusReachTheWindowsThatExist) {
    set.applyDisplayMode(6, true);
    log.events.clear();
    settings.alwaysOnTop = 1;
    set.applyTopmost();
    set.focusMainDisplay();
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"Tavrin Capture - Top topmost", "Tavrin Capture - Bottom topmost",
                                        "front Tavrin Capture - Top"}));
    set.destroyDisplayWindows();
    set.applyTopmost(); // no windows: nothing to do, no crash
    set.focusMainDisplay();
}

TEST_F(WindowSetTest, FramesHeldByOldWindowsGoBackToThePool) {
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    set.applyDisplayMode(6, true);
    // Dispatch two frames as the control window does.
    for (int i = 0; i < 2; ++i) {
        device::FrameRef f = pool.take(std::chrono::milliseconds(0));
        ASSERT_TRUE(f);
        set.bottomDisplay()->present(f.share());
        set.mainDisplay()->present(std::move(f));
    }
    EXPECT_EQ(pool.queue().count(), 11) << "the first frame was released by both windows";
    set.applyDisplayMode(7, false);
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST_F(WindowSetTest, HugeStoredSizesStartInsideTheScreenAndSplitWindowsApart) {
    factory.area = {{0, 0, 1920, 1080}, 1, 20, 1, 5};
    settings.displayMode = 6;
    settings.splitWindows = 1;
    for (int slot = 0; slot < 2; ++slot) {
        settings.clientWidth[slot] = 100000;
        settings.clientHeight[slot] = 150000;
    }
    set.applyDisplayMode(6, true);
    ASSERT_EQ(factory.created.size(), 2u);
    const DisplayWindowPlan& top = factory.created[0];
    const DisplayWindowPlan& bottom = factory.created[1];
    // Each fits alone (1055 high at most), then the pair side by side: 958 wide each.
    EXPECT_EQ(top.clientWidth, 958);
    EXPECT_EQ(top.clientHeight, 718);
    EXPECT_EQ(bottom.clientWidth, 958);
    ASSERT_TRUE(top.positioned && bottom.positioned);
    EXPECT_GE(bottom.position.x, top.position.x + top.clientWidth + 2);
    EXPECT_LE(bottom.position.x + bottom.clientWidth + 1, 1920);
    // What they start at is what is saved.
    EXPECT_EQ(settings.clientWidth[0], 958);
    EXPECT_EQ(settings.clientHeight[1], 718);

    set.applyDisplayMode(6, false); // one window: centred
    EXPECT_TRUE(factory.created.back().positioned);
}

// The picture windows open centred in what is left of the screen when the control
// window's room is kept free at their right, as long as they fit there as they are.
TEST_F(WindowSetTest, PictureWindowsLeaveRoomForTheControlWindow) {
    factory.area = {{0, 0, 1920, 1080}, 1, 20, 1, 5, 400};
    set.applyDisplayMode(6, false);
    DisplayWindowPlan p = factory.created.back();
    ASSERT_TRUE(p.positioned);
    EXPECT_EQ(p.position.x, 1 + (1520 - 258) / 2);
    EXPECT_EQ(p.position.y, 20 + (1080 - 409) / 2);

    set.applyDisplayMode(6, true);
    const DisplayWindowPlan top = factory.created[factory.created.size() - 2];
    const DisplayWindowPlan bottom = factory.created.back();
    EXPECT_EQ(top.position.x, bottom.position.x) << "stacked";
    EXPECT_LE(top.position.x + top.clientWidth + 1, 1520);

    // Too wide for the room: centred on the whole screen, no size given up.
    set.applyDisplayMode(6, false);
    factory.area.available = {0, 0, 1920, 4000};
    settings.clientWidth[0] = 1600;
    settings.clientHeight[0] = 2400;
    set.applyDisplayMode(6, false);
    p = factory.created.back();
    EXPECT_EQ(p.clientWidth, 1600);
    EXPECT_EQ(p.position.x, 1 + (1920 - 1602) / 2);
}

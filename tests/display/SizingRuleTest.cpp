// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/SizingRule.h"
#include "display/SizingTracker.h"
#include "display/WindowPlacement.h"

#include <gtest/gtest.h>

using namespace tavrin::display;

namespace {

// A window frame of 8 pixels each side and a 23-pixel caption.
constexpr int32_t kExtraW = 16;
constexpr int32_t kExtraH = 39;

WindowRect outer(int32_t left, int32_t top, int32_t cw, int32_t ch) {
    return {left, top, left + cw + kExtraW, top + ch + kExtraH};
}

struct Sized {
    ClientSize size;
    WindowRect rect;
};

Sized size(int32_t w, int32_t h, SizingEdge edge, int32_t cw, int32_t ch) {
    Sized s{{}, outer(100, 50, cw, ch)};
    s.size = applySizingRule(w, h, kExtraW, kExtraH, edge, s.rect);
    return s;
}

} // namespace

TEST(SizingRule, DualScreenWidthDrags) {
    // Within 15 pixels of 2x: snapped.
    Sized s = size(256, 384, SizingEdge::Right, 500, 384);
    EXPECT_EQ(s.size, (ClientSize{512, 768}));
    EXPECT_EQ(sizingTitle(s.size), "512 x 768");
    // Beyond it: kept, with the height following.
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 540, 384).size, (ClientSize{540, 810}));
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 541, 384).size, (ClientSize{540, 810})) << "width made even";
    // The snap window is k x W - 15 to k x W + 14.
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 497, 384).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 526, 384).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 496, 384).size, (ClientSize{496, 744}));
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 527, 384).size, (ClientSize{526, 789}));
}

TEST(SizingRule, WholeMultiplesOnlyWithIntegerScaling) {
    struct Case {
        int32_t w, h;
        SizingEdge edge;
        int32_t cw, ch;
        ClientSize expected;
    };
    const Case cases[] = {
        {256, 384, SizingEdge::Right, 383, 384, {256, 384}},     // below halfway to 2x
        {256, 384, SizingEdge::Right, 384, 384, {512, 768}},     // halfway: up
        {256, 384, SizingEdge::Right, 640, 384, {768, 1152}},    // beyond the 15-pixel snap
        {256, 384, SizingEdge::Bottom, 256, 1000, {768, 1152}},  // by the height
        {256, 384, SizingEdge::BottomRight, 20, 20, {256, 384}}, // never below 1x
        {243, 160, SizingEdge::Right, 729, 160, {729, 480}},     // an odd width's odd multiple stays whole
        {240, 160, SizingEdge::TopLeft, 1000, 700, {960, 640}},  // nearest of the two axes' fits
    };
    for (const Case& c : cases) {
        Sized s{{}, outer(100, 50, c.cw, c.ch)};
        s.size = applySizingRule(c.w, c.h, kExtraW, kExtraH, c.edge, s.rect, true);
        EXPECT_EQ(s.size, c.expected) << c.w << "x" << c.h << " dragged to " << c.cw << "x" << c.ch;
        EXPECT_EQ(s.rect.width() - kExtraW, s.size.width);
        EXPECT_EQ(s.rect.height() - kExtraH, s.size.height);
    }
}

// A Windows sizing loop moves the edge from the rectangle the window last gave it. A
// slow pull (36 or 54 pixels a step, past 1.5x in the end) lands on 2x only when the rule
// takes the pointer's rectangle; from the given one every step would snap back to 1x.
TEST(SizingRule, IntegerScalingFollowsThePointerThroughASizingLoop) {
    struct Pull {
        SizingEdge edge;
        int32_t dx, dy; // a step
    };
    for (const Pull pull : {Pull{SizingEdge::BottomRight, 36, 54}, Pull{SizingEdge::Right, 36, 0},
                            Pull{SizingEdge::Bottom, 0, 54}, Pull{SizingEdge::TopLeft, -36, -54}}) {
        for (const bool followPointer : {true, false}) {
            PointerSizing pointer;
            WindowRect given{1000, 1000, 1256, 1384}; // 256 x 384, no frame
            ClientSize size;
            for (int step = 0; step < 5; ++step) {
                WindowRect r = given;
                (pull.edge == SizingEdge::TopLeft ? r.left : r.right) += pull.dx;
                (pull.edge == SizingEdge::TopLeft ? r.top : r.bottom) += pull.dy;
                if (followPointer)
                    r = pointer.follow(r);
                size = applySizingRule(256, 384, 0, 0, pull.edge, r, true);
                pointer.gave(r);
                given = r;
            }
            EXPECT_EQ(size, followPointer ? (ClientSize{512, 768}) : (ClientSize{256, 384}))
                << static_cast<int>(pull.edge) << (followPointer ? " following the pointer" : "");
            EXPECT_EQ(given.width(), size.width);
        }
    }
    // A new loop starts from where the window is, not from the last pointer.
    PointerSizing pointer;
    WindowRect r{0, 0, 600, 900};
    pointer.follow(r);
    pointer.gave({0, 0, 512, 768});
    pointer.end();
    EXPECT_EQ(pointer.follow({0, 0, 520, 780}), (WindowRect{0, 0, 520, 780}));
}

TEST(SizingRule, DualScreenHeightDrags) {
    EXPECT_EQ(size(256, 384, SizingEdge::Bottom, 256, 700).size, (ClientSize{466, 699}));
    EXPECT_EQ(size(256, 384, SizingEdge::Bottom, 256, 760).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, SizingEdge::Top, 256, 760).size, (ClientSize{512, 768}));
}

TEST(SizingRule, NeverBelowNativeSize) {
    EXPECT_EQ(size(256, 384, SizingEdge::Right, 100, 384).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 384, SizingEdge::Bottom, 256, 50).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 384, SizingEdge::BottomRight, 10, 10).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 192, SizingEdge::Left, 30, 192).size, (ClientSize{256, 192}));
    EXPECT_EQ(size(240, 160, SizingEdge::TopLeft, 200, 100).size, (ClientSize{240, 160}));
    // A rectangle turned inside out still gives the native size.
    WindowRect r{300, 300, 100, 100};
    EXPECT_EQ(applySizingRule(256, 384, kExtraW, kExtraH, SizingEdge::BottomRight, r),
              (ClientSize{256, 384}));
}

TEST(SizingRule, SingleScreenSnapsToOneTimes) {
    EXPECT_EQ(size(240, 160, SizingEdge::Right, 250, 160).size, (ClientSize{240, 160}));
    EXPECT_EQ(size(240, 160, SizingEdge::Right, 255, 160).size, (ClientSize{254, 169}));
}

TEST(SizingRule, CornerLetsTheLargerProportionDecide) {
    EXPECT_EQ(size(256, 192, SizingEdge::BottomRight, 600, 300).size, (ClientSize{600, 450}));
    // 300 x 700 is taller than the picture: the height decides.
    EXPECT_EQ(size(256, 384, SizingEdge::BottomRight, 300, 700).size, (ClientSize{466, 699}));
    EXPECT_EQ(size(256, 384, SizingEdge::BottomRight, 600, 700).size, (ClientSize{600, 900}));
}

TEST(SizingRule, KeepsTheCornerOppositeTheDraggedEdge) {
    const WindowRect start = outer(100, 50, 300, 300);
    auto moved = [&](SizingEdge edge) {
        WindowRect r = start;
        applySizingRule(256, 192, kExtraW, kExtraH, edge, r);
        return r;
    };
    // 300 x 300 proposed on a 256 x 192 corner: the height decides, 400 x 300.
    const int32_t w = 400 + kExtraW, h = 300 + kExtraH;
    EXPECT_EQ(moved(SizingEdge::BottomRight),
              (WindowRect{start.left, start.top, start.left + w, start.top + h}));
    EXPECT_EQ(moved(SizingEdge::BottomLeft),
              (WindowRect{start.right - w, start.top, start.right, start.top + h}));
    EXPECT_EQ(moved(SizingEdge::TopLeft),
              (WindowRect{start.right - w, start.bottom - h, start.right, start.bottom}));
    EXPECT_EQ(moved(SizingEdge::TopRight),
              (WindowRect{start.left, start.bottom - h, start.left + w, start.bottom}));
    // Edges: the proposed size along the other axis is ignored.
    WindowRect r = start;
    EXPECT_EQ(applySizingRule(256, 192, kExtraW, kExtraH, SizingEdge::Left, r), (ClientSize{300, 225}));
    EXPECT_EQ(r,
              (WindowRect{start.right - 300 - kExtraW, start.top, start.right, start.top + 225 + kExtraH}));
    r = start;
    EXPECT_EQ(applySizingRule(256, 192, kExtraW, kExtraH, SizingEdge::Top, r), (ClientSize{400, 300}));
    EXPECT_EQ(
        r, (WindowRect{start.left, start.bottom - 300 - kExtraH, start.left + 400 + kExtraW, start.bottom}));
    // No edge leaves the rectangle as proposed.
    r = start;
    applySizingRule(256, 192, kExtraW, kExtraH, SizingEdge::None, r);
    EXPECT_EQ(r, start);
}

TEST(SizingRule, EdgeFromTheRectanglesBeforeAndAfter) {
    const WindowRect b{100, 100, 356, 484};
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 400, 484}), SizingEdge::Right);
    EXPECT_EQ(inferSizingEdge(b, {50, 100, 356, 484}), SizingEdge::Left);
    EXPECT_EQ(inferSizingEdge(b, {100, 60, 356, 484}), SizingEdge::Top);
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 356, 500}), SizingEdge::Bottom);
    EXPECT_EQ(inferSizingEdge(b, {90, 90, 356, 484}), SizingEdge::TopLeft);
    EXPECT_EQ(inferSizingEdge(b, {100, 90, 366, 484}), SizingEdge::TopRight);
    EXPECT_EQ(inferSizingEdge(b, {90, 100, 356, 494}), SizingEdge::BottomLeft);
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 366, 494}), SizingEdge::BottomRight);
    EXPECT_EQ(inferSizingEdge(b, {0, 0, 256, 384}), SizingEdge::None) << "a move is no sizing";
    // Both sides moved (a window manager that centres): the top-left corner stays.
    EXPECT_EQ(inferSizingEdge(b, {90, 90, 366, 494}), SizingEdge::BottomRight);
}

// A resize runs through the window manager: the steps on the way are taken as they
// come, and the rule is applied once, to the whole drag, when it ends.
TEST(SizingTracker, AppliesTheRuleOnceWhenTheDragEnds) {
    using R = SizingTracker::Report;
    SizingTracker t(256, 384);
    t.settle({100, 100, 356, 484});
    EXPECT_FALSE(t.finish()) << "no resize under way";
    EXPECT_EQ(t.resized({200, 150, 456, 534}), R::Unchanged) << "a move is no sizing";
    // Right edge dragged out, in steps, to 500 wide (the height the manager's).
    EXPECT_EQ(t.resized({200, 150, 600, 534}), R::Sizing);
    EXPECT_EQ(t.resized({200, 150, 700, 534}), R::Sizing);
    EXPECT_EQ(t.resized({200, 150, 700, 684}), R::Sizing);
    EXPECT_TRUE(t.sizing());
    // Back to 500 x 384 when let go: measured from where the drag started.
    EXPECT_EQ(t.resized({200, 150, 700, 534}), R::Sizing);
    auto step = t.finish();
    ASSERT_TRUE(step);
    EXPECT_TRUE(step->correct);
    EXPECT_EQ(step->size, (ClientSize{512, 768}));
    EXPECT_EQ(step->target, (WindowRect{200, 150, 712, 918}));
    EXPECT_FALSE(t.sizing());
    EXPECT_TRUE(t.awaitingAnswer());

    // Whatever comes back is the answer, however often and whatever size (the rule
    // is not idempotent: it must never run on a granted size again).
    EXPECT_EQ(t.resized({200, 150, 712, 918}), R::Answer);
    EXPECT_EQ(t.resized({200, 150, 706, 909}), R::Answer);
    EXPECT_FALSE(t.finish());
    t.answerWindowClosed();

    // A size the rule already gives asks for nothing, and nothing is awaited.
    EXPECT_EQ(t.resized({200, 150, 740, 960}), R::Sizing); // 540 x 810
    step = t.finish();
    ASSERT_TRUE(step);
    EXPECT_FALSE(step->correct);
    EXPECT_FALSE(t.awaitingAnswer());
}

TEST(SizingTracker, KeepsTheCornerOppositeTheDraggedOne) {
    SizingTracker t(256, 384);
    t.settle({500, 0, 756, 384});
    t.resized({480, 0, 756, 384}); // left edge out to 276
    t.resized({485, 0, 756, 384}); // and back to 271
    const auto step = t.finish();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->size, (ClientSize{270, 405}));
    EXPECT_EQ(step->target, (WindowRect{486, 0, 756, 405}));
}

TEST(SizingTracker, FirstReportOnlySettles) {
    SizingTracker t(256, 384);
    EXPECT_EQ(t.resized({0, 0, 300, 300}), SizingTracker::Report::Unchanged);
    EXPECT_EQ(t.resized({0, 0, 320, 300}), SizingTracker::Report::Sizing);
}

// Stored sizes larger than the screen start at the largest size the rule gives that
// fits; sizes that fit stay as they are.
TEST(WindowPlacement, FitsStoredSizesIntoTheScreen) {
    struct Case {
        int32_t w, h;
        ClientSize stored;
        int64_t maxW, maxH;
        ClientSize expected;
    };
    const Case cases[] = {
        {256, 384, {540, 810}, 1904, 1043, {540, 810}},        // fits: untouched
        {256, 384, {100000, 150000}, 1904, 1043, {694, 1041}}, // the height runs out
        {256, 384, {1920, 2880}, 1904, 1050, {700, 1050}},
        {256, 384, {1920, 2880}, 1904, 760, {500, 750}},       // 753 to 760 snap up to 768
        {256, 192, {100000, 150000}, 1000, 2000, {1000, 750}}, // the width runs out
        {240, 160, {100000, 100000}, 1904, 1043, {1564, 1042}},
        {256, 384, {4000, 6000}, 200, 300, {256, 384}}, // never below 1x
        {256, 384, {16384, 16384}, 10922, 16383, {10922, 16383}},
    };
    for (const Case& c : cases) {
        const ClientSize got = fitClientSize(c.w, c.h, c.stored, c.maxW, c.maxH);
        EXPECT_EQ(got, c.expected) << c.w << "x" << c.h << " stored " << c.stored.width << "x"
                                   << c.stored.height << " in " << c.maxW << "x" << c.maxH << ": "
                                   << got.width << "x" << got.height;
        // A fitted size is a size the rule itself gives.
        WindowRect r{0, 0, got.width, got.height};
        EXPECT_EQ(applySizingRule(c.w, c.h, 0, 0, SizingEdge::BottomRight, r), got);
    }
}

TEST(WindowPlacement, SplitWindowsNeverOverlap) {
    const ClientSize pic{256, 192};
    auto outer = [](const ScreenArea& a, ClientPosition at, ClientSize s) {
        return WindowRect{at.x - a.frameLeft, at.y - a.frameTop, at.x + s.width + a.frameRight,
                          at.y + s.height + a.frameBottom};
    };
    auto overlap = [](const WindowRect& a, const WindowRect& b) {
        return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
    };
    auto inside = [](const WindowRect& r, const WindowRect& area) {
        return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
    };
    struct Case {
        ScreenArea area;
        ClientSize size;
        bool stacked;
    };
    const Case cases[] = {
        {{{0, 0, 1920, 1080}, 0, 0, 0, 0}, pic, true},           // no window manager
        {{{0, 0, 1920, 1080}, 1, 20, 1, 5}, {512, 384}, true},   // framed
        {{{0, 24, 1920, 1080}, 5, 29, 5, 5}, {800, 600}, false}, // too short: side by side
        {{{0, 0, 1280, 720}, 5, 29, 5, 5}, {1024, 768}, false},  // shrunk as well
    };
    for (const Case& c : cases) {
        const SplitPlacement p = placeSplitWindows(c.area, pic, c.size, pic, c.size);
        const WindowRect top = outer(c.area, p.topAt, p.top);
        const WindowRect bottom = outer(c.area, p.bottomAt, p.bottom);
        EXPECT_FALSE(overlap(top, bottom)) << c.size.width;
        EXPECT_TRUE(inside(top, c.area.available)) << c.size.width;
        EXPECT_TRUE(inside(bottom, c.area.available)) << c.size.width;
        EXPECT_EQ(p.top, p.bottom);
        if (c.stacked) {
            EXPECT_EQ(p.top, c.size);
            EXPECT_EQ(bottom.top, top.bottom) << "right below";
            EXPECT_EQ(top.left, bottom.left);
        } else {
            EXPECT_EQ(bottom.left, top.right) << "right beside";
            EXPECT_EQ(top.top, bottom.top);
        }
    }
    // The first case is the window set's default: the pair centred on the screen.
    const SplitPlacement p = placeSplitWindows(cases[0].area, pic, pic, pic, pic);
    EXPECT_EQ(p.topAt.x, (1920 - 256) / 2);
    EXPECT_EQ(p.topAt.y, (1080 - 384) / 2);
    EXPECT_EQ(p.bottomAt.y, p.topAt.y + 192);
}

// A drag that the rule would snap past the screen's edge ends at the largest size
// that fits, from the same fixed corner.
TEST(SizingTracker, TheRuleNeverTakesTheWindowOffTheScreen) {
    struct Case {
        WindowRect start, end;
        int64_t maxW, maxH;
        ClientSize size;
        WindowRect target;
        bool wholeMultiples = false;
    };
    const Case cases[] = {
        // Bottom edge to 760 high snaps to 768, but only 760 fit: 500 x 750.
        {{0, 0, 256, 384}, {0, 0, 256, 760}, 1920, 760, {500, 750}, {0, 0, 500, 750}},
        // Top-left corner: the bottom-right corner stays.
        {{500, 500, 756, 884}, {250, 124, 756, 884}, 1920, 760, {500, 750}, {256, 134, 756, 884}},
        // Each other corner and edge keeps what is opposite it, also when dragged past the
        // screen's edge: top-right (the bottom-left stays), bottom-left, top, left.
        {{500, 500, 756, 884}, {500, 124, 1006, 884}, 1920, 760, {500, 750}, {500, 134, 1000, 884}},
        {{1400, 0, 1656, 384}, {1300, 0, 1656, 1000}, 1920, 760, {500, 750}, {1156, 0, 1656, 750}},
        {{500, 500, 756, 884}, {500, -20, 756, 884}, 1920, 760, {500, 750}, {500, 134, 1000, 884}},
        {{1400, 0, 1656, 384}, {900, 0, 1656, 384}, 1920, 760, {500, 750}, {1156, 0, 1656, 750}},
        // Top-right with whole multiples: 2x fits, from the bottom-left corner.
        {{500, 500, 756, 884}, {500, -100, 1156, 884}, 1920, 1080, {512, 768}, {500, 116, 1012, 884}, true},
        // Room enough: the rule as it is.
        {{0, 0, 256, 384}, {0, 0, 256, 760}, 1920, 1080, {512, 768}, {0, 0, 512, 768}},
        // Whole multiples: the nearest (2.2x gives 2x, 1.2x gives 1x), the largest that fits.
        {{0, 0, 256, 384}, {0, 0, 556, 834}, 1920, 1080, {512, 768}, {0, 0, 512, 768}, true},
        {{0, 0, 256, 384}, {0, 0, 300, 450}, 1920, 1080, {256, 384}, {0, 0, 256, 384}, true},
        {{500, 500, 756, 884}, {100, -100, 756, 884}, 1920, 1080, {512, 768}, {244, 116, 756, 884}, true},
    };
    for (const Case& c : cases) {
        SizingTracker t(256, 384);
        t.settle(c.start);
        t.resized(c.end);
        const auto step = t.finish(c.maxW, c.maxH, c.wholeMultiples);
        ASSERT_TRUE(step);
        EXPECT_EQ(step->size, c.size) << step->size.width << " x " << step->size.height;
        EXPECT_EQ(step->target, c.target) << step->target.left << "," << step->target.top;
        EXPECT_LE(step->size.height, c.maxH);
    }
}

// What is saved of a size the window system set: the picture inside it.
TEST(WindowPlacement, PictureAreaIsThePictureFittedIntoTheWindow) {
    struct Case {
        int32_t w, h;
        ClientSize window, expected;
    };
    const Case cases[] = {
        {256, 384, {1916, 1053}, {702, 1053}}, // a wide tile: the height decides
        {256, 384, {800, 400}, {266, 400}},
        {256, 384, {396, 573}, {382, 573}},
        {256, 384, {512, 768}, {512, 768}}, // at the aspect: itself
        {256, 192, {406, 304}, {406, 304}}, // within a pixel of it, as the rule gives
        {256, 384, {466, 699}, {466, 699}},
        {256, 384, {960, 2000}, {960, 1440}}, // a tall one: the width decides
        {256, 192, {200, 100}, {256, 192}},   // below the picture's own size: that size
        {240, 160, {1000, 1000}, {1000, 666}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pictureArea(c.w, c.h, c.window), c.expected) << c.window.width << " x " << c.window.height;
}

// The saved size is the picture inside the window, brought onto the screen by the rule.
TEST(WindowPlacement, KeptSizeIsThePictureWithinTheRoom) {
    struct Case {
        int32_t w, h;
        ClientSize window, room, expected;
    };
    const Case cases[] = {
        {256, 384, {1916, 1053}, {1920, 1080}, {702, 1053}}, // a wide tile: its picture
        {256, 384, {512, 768}, {500, 700}, {466, 699}},      // too tall for the screen: the rule's fit
        {256, 384, {512, 768}, {512, 768}, {512, 768}},      // exactly the room
        {256, 192, {100, 100}, {1920, 1080}, {256, 192}},    // never below 1x
    };
    for (const Case& c : cases)
        EXPECT_EQ(keptClientSize(c.w, c.h, c.window, c.room), c.expected)
            << c.window.width << " x " << c.window.height;
}

// A picture that changes shape (rotation, arrangement, gap) keeps the scale it had.
TEST(WindowPlacement, ReshapedPictureKeepsItsScale) {
    const ClientSize screen{4000, 4000};
    struct Case {
        int32_t oldW, oldH, w, h;
        ClientSize window, room, expected;
    };
    const Case cases[] = {
        {256, 384, 384, 256, {512, 768}, screen, {768, 512}},     // turned a quarter at 2x
        {256, 384, 512, 384, {1916, 1053}, screen, {1404, 1053}}, // side by side from a wide tile's picture
        {256, 384, 256, 400, {256, 384}, screen, {256, 400}},     // a gap added at 1x
        {256, 384, 512, 384, {512, 768}, {1000, 1000}, {1000, 750}}, // 2x would not fit: the rule's fit
        {256, 384, 256, 384, {100, 100}, screen, {256, 384}},        // never below 1x
        {256, 0, 256, 384, {512, 768}, screen, {256, 384}},          // no old shape: 1x
    };
    for (const Case& c : cases)
        EXPECT_EQ(reshapedClientSize(c.oldW, c.oldH, c.w, c.h, c.window, c.room), c.expected)
            << c.oldW << " x " << c.oldH << " -> " << c.w << " x " << c.h;
}

// The control window opens clear of the picture windows, on the screen.
TEST(WindowPlacement, ClearOfTheWindowsThere) {
    const ScreenArea area{{0, 0, 1920, 1080}};
    const ClientSize control{400, 300};
    struct Case {
        std::vector<WindowRect> taken;
        ClientPosition expected;
    };
    const Case cases[] = {
        {{{700, 300, 958, 709}}, {958, 300}},                       // right of one
        {{{700, 100, 958, 309}, {700, 309, 958, 518}}, {958, 100}}, // right of a stacked pair
        {{{1600, 900, 1858, 1100}}, {1200, 780}},                   // no room right: left, inside
        {{{0, 0, 1800, 700}}, {0, 700}},                            // nor left: below
        {{{0, 400, 1800, 1080}}, {0, 100}},                         // nor below: above
        {{{0, 0, 1920, 1080}}, {1520, 0}},                          // nowhere: the right edge
        {{}, {760, 390}},                                           // nothing there: centred
    };
    for (const Case& c : cases) {
        const ClientPosition at = placeClearOf(area, c.taken, control);
        EXPECT_EQ(at.x, c.expected.x) << c.taken.size();
        EXPECT_EQ(at.y, c.expected.y) << c.taken.size();
    }
}

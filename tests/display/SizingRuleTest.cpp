#include "display/SizingRule.h"
#include "display/SizingTracker.h"

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

Sized size(int32_t w, int32_t h, int32_t edge, int32_t cw, int32_t ch) {
    Sized s{{}, outer(100, 50, cw, ch)};
    s.size = applySizingRule(w, h, kExtraW, kExtraH, edge, s.rect);
    return s;
}

} // namespace

TEST(SizingRule, DualScreenWidthDrags) {
    // Within 15 pixels of 2x: snapped.
    Sized s = size(256, 384, WMSZ_RIGHT, 500, 384);
    EXPECT_EQ(s.size, (ClientSize{512, 768}));
    EXPECT_EQ(sizingTitle(s.size), "512 x 768");
    // Beyond it: kept, with the height following.
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 540, 384).size, (ClientSize{540, 810}));
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 541, 384).size, (ClientSize{540, 810})) << "width made even";
    // The snap window is k x W - 15 to k x W + 14.
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 497, 384).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 526, 384).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 496, 384).size, (ClientSize{496, 744}));
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 527, 384).size, (ClientSize{526, 789}));
}

TEST(SizingRule, DualScreenHeightDrags) {
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOM, 256, 700).size, (ClientSize{466, 699}));
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOM, 256, 760).size, (ClientSize{512, 768}));
    EXPECT_EQ(size(256, 384, WMSZ_TOP, 256, 760).size, (ClientSize{512, 768}));
}

TEST(SizingRule, NeverBelowNativeSize) {
    EXPECT_EQ(size(256, 384, WMSZ_RIGHT, 100, 384).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOM, 256, 50).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOMRIGHT, 10, 10).size, (ClientSize{256, 384}));
    EXPECT_EQ(size(256, 192, WMSZ_LEFT, 30, 192).size, (ClientSize{256, 192}));
    EXPECT_EQ(size(240, 160, WMSZ_TOPLEFT, 200, 100).size, (ClientSize{240, 160}));
    // A rectangle turned inside out still gives the native size.
    WindowRect r{300, 300, 100, 100};
    EXPECT_EQ(applySizingRule(256, 384, kExtraW, kExtraH, WMSZ_BOTTOMRIGHT, r), (ClientSize{256, 384}));
}

TEST(SizingRule, SingleScreenSnapsToOneTimes) {
    EXPECT_EQ(size(240, 160, WMSZ_RIGHT, 250, 160).size, (ClientSize{240, 160}));
    EXPECT_EQ(size(240, 160, WMSZ_RIGHT, 255, 160).size, (ClientSize{254, 169}));
}

TEST(SizingRule, CornerLetsTheLargerProportionDecide) {
    EXPECT_EQ(size(256, 192, WMSZ_BOTTOMRIGHT, 600, 300).size, (ClientSize{600, 450}));
    // 300 x 700 is taller than the picture: the height decides.
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOMRIGHT, 300, 700).size, (ClientSize{466, 699}));
    EXPECT_EQ(size(256, 384, WMSZ_BOTTOMRIGHT, 600, 700).size, (ClientSize{600, 900}));
}

TEST(SizingRule, KeepsTheCornerOppositeTheDraggedEdge) {
    const WindowRect start = outer(100, 50, 300, 300);
    auto moved = [&](int32_t edge) {
        WindowRect r = start;
        applySizingRule(256, 192, kExtraW, kExtraH, edge, r);
        return r;
    };
    // 300 x 300 proposed on a 256 x 192 corner: the height decides, 400 x 300.
    const int32_t w = 400 + kExtraW, h = 300 + kExtraH;
    EXPECT_EQ(moved(WMSZ_BOTTOMRIGHT), (WindowRect{start.left, start.top, start.left + w, start.top + h}));
    EXPECT_EQ(moved(WMSZ_BOTTOMLEFT), (WindowRect{start.right - w, start.top, start.right, start.top + h}));
    EXPECT_EQ(moved(WMSZ_TOPLEFT),
              (WindowRect{start.right - w, start.bottom - h, start.right, start.bottom}));
    EXPECT_EQ(moved(WMSZ_TOPRIGHT), (WindowRect{start.left, start.bottom - h, start.left + w, start.bottom}));
    // Edges: the proposed size along the other axis is ignored.
    WindowRect r = start;
    EXPECT_EQ(applySizingRule(256, 192, kExtraW, kExtraH, WMSZ_LEFT, r), (ClientSize{300, 225}));
    EXPECT_EQ(r,
              (WindowRect{start.right - 300 - kExtraW, start.top, start.right, start.top + 225 + kExtraH}));
    r = start;
    EXPECT_EQ(applySizingRule(256, 192, kExtraW, kExtraH, WMSZ_TOP, r), (ClientSize{400, 300}));
    EXPECT_EQ(
        r, (WindowRect{start.left, start.bottom - 300 - kExtraH, start.left + 400 + kExtraW, start.bottom}));
    // An unknown edge leaves the rectangle as proposed.
    r = start;
    applySizingRule(256, 192, kExtraW, kExtraH, 9, r);
    EXPECT_EQ(r, start);
}

TEST(SizingRule, EdgeFromTheRectanglesBeforeAndAfter) {
    const WindowRect b{100, 100, 356, 484};
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 400, 484}), WMSZ_RIGHT);
    EXPECT_EQ(inferSizingEdge(b, {50, 100, 356, 484}), WMSZ_LEFT);
    EXPECT_EQ(inferSizingEdge(b, {100, 60, 356, 484}), WMSZ_TOP);
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 356, 500}), WMSZ_BOTTOM);
    EXPECT_EQ(inferSizingEdge(b, {90, 90, 356, 484}), WMSZ_TOPLEFT);
    EXPECT_EQ(inferSizingEdge(b, {100, 90, 366, 484}), WMSZ_TOPRIGHT);
    EXPECT_EQ(inferSizingEdge(b, {90, 100, 356, 494}), WMSZ_BOTTOMLEFT);
    EXPECT_EQ(inferSizingEdge(b, {100, 100, 366, 494}), WMSZ_BOTTOMRIGHT);
    EXPECT_EQ(inferSizingEdge(b, {0, 0, 256, 384}), 0) << "a move is no sizing";
    // Both sides moved (a window manager that centres): the top-left corner stays.
    EXPECT_EQ(inferSizingEdge(b, {90, 90, 366, 494}), WMSZ_BOTTOMRIGHT);
}

TEST(SizingTracker, CorrectsAUserStepOnceAndStaysQuietWhenItArrives) {
    SizingTracker t(256, 384);
    const WindowRect start{100, 100, 356, 484};
    t.settle(start);
    // Right edge dragged to 500 wide.
    auto step = t.resized({100, 100, 600, 484});
    ASSERT_TRUE(step);
    EXPECT_TRUE(step->correct);
    EXPECT_EQ(step->size, (ClientSize{512, 768}));
    EXPECT_EQ(step->target, (WindowRect{100, 100, 612, 868}));
    // Our own correction arrives: nothing more to do.
    EXPECT_FALSE(t.resized(step->target));
    // A pure move is no sizing.
    EXPECT_FALSE(t.resized({200, 150, 712, 918}));
    // Left edge dragged outwards from there: the right edge stays put.
    step = t.resized({150, 150, 712, 918});
    ASSERT_TRUE(step);
    EXPECT_EQ(step->size, (ClientSize{562, 843}));
    EXPECT_EQ(step->target.right, 712);
    EXPECT_EQ(step->target.left, 150);
    EXPECT_EQ(step->target.bottom, 150 + 843);
}

// The rule is not idempotent (271 becomes 270 x 405, and 270 would snap to 256), so
// a granted correction must never be run through the rule again.
TEST(SizingTracker, LeavesAGrantedCorrectionAlone) {
    SizingTracker t(256, 384);
    t.settle({500, 0, 756, 384});
    auto step = t.resized({485, 0, 756, 384}); // left edge out to 271
    ASSERT_TRUE(step && step->correct);
    EXPECT_EQ(step->size, (ClientSize{270, 405}));
    EXPECT_EQ(step->target, (WindowRect{486, 0, 756, 405}));
    // The window manager grants the size but places the window a little elsewhere.
    EXPECT_FALSE(t.resized({490, 10, 760, 415}));
}

TEST(SizingTracker, ASizeThatFitsNeedsNoCorrection) {
    SizingTracker t(240, 160);
    t.settle({0, 0, 240, 160});
    auto step = t.resized({0, 0, 480, 320});
    ASSERT_TRUE(step);
    EXPECT_FALSE(step->correct);
    EXPECT_EQ(step->size, (ClientSize{480, 320}));
}

TEST(SizingTracker, DoesNotFightAWindowManagerThatInsists) {
    SizingTracker t(256, 384);
    t.settle({0, 0, 256, 384});
    const WindowRect proposal{0, 0, 700, 500};
    auto step = t.resized(proposal);
    ASSERT_TRUE(step && step->correct);
    // The manager grants the correction, then puts its own size back (a tiling manager).
    EXPECT_FALSE(t.resized(step->target));
    EXPECT_FALSE(t.resized(proposal)) << "must not ask again";
    // A later, different proposal from the user is corrected again.
    step = t.resized({0, 0, 800, 500});
    ASSERT_TRUE(step);
    EXPECT_TRUE(step->correct);
}

TEST(SizingTracker, FirstReportOnlySettles) {
    SizingTracker t(256, 384);
    EXPECT_FALSE(t.resized({0, 0, 300, 300}));
    EXPECT_TRUE(t.resized({0, 0, 320, 300}));
}

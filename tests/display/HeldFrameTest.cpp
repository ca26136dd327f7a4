// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/HeldFrame.h"
#include "display/ImagePart.h"

#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

using namespace tavrin;
using namespace tavrin::display;
using namespace std::chrono_literals;

namespace {

void convertedFor(device::CaptureFrame& f, int layoutId) {
    f.layout = device::screenLayouts[layoutId];
    f.image.assign(static_cast<std::size_t>(f.layout.width) * f.layout.height * 4, 0);
}

} // namespace

TEST(HeldFrame, KeepsOnlyTheNewestFrameAndReleasesTheRest) {
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    HeldFrame held;
    EXPECT_FALSE(held.holdsFrame());
    EXPECT_FALSE(held.withFrame([](device::CaptureFrame&) { FAIL() << "no frame yet"; }));

    device::FrameRef firstRef = pool.take(0ms);
    device::CaptureFrame* first = firstRef.get();
    held.present(std::move(firstRef));
    EXPECT_EQ(pool.queue().count(), 11);
    device::FrameRef secondRef = pool.take(0ms);
    device::CaptureFrame* second = secondRef.get();
    held.present(std::move(secondRef));
    EXPECT_EQ(pool.queue().count(), 11) << "the first frame went back";
    EXPECT_EQ(first->refCount, 0);

    device::CaptureFrame* seen = nullptr;
    EXPECT_TRUE(held.withFrame([&](device::CaptureFrame& f) { seen = &f; }));
    EXPECT_EQ(seen, second);

    held.clear();
    EXPECT_FALSE(held.holdsFrame());
    EXPECT_EQ(pool.queue().count(), 12);
    held.clear(); // twice is harmless
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST(HeldFrame, ReleasesOnDestructionAndRespectsOtherHolders) {
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    device::FrameRef f = pool.take(0ms);
    {
        HeldFrame a;
        a.present(f.share()); // a second window holds it too
        {
            HeldFrame b;
            b.present(std::move(f));
        }
        EXPECT_EQ(pool.queue().count(), 11) << "still held by the other window";
    }
    EXPECT_EQ(pool.queue().count(), 12);
}

// A draw in progress on one thread and hand-overs on another must not release the
// frame being drawn (the read thread and the GUI thread meet like this).
TEST(HeldFrame, ADrawNeverSeesItsFrameReleased) {
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    HeldFrame held;
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread drawer([&] {
        while (!stop) {
            held.withFrame([&](device::CaptureFrame& fr) {
                std::lock_guard lk(fr.lock);
                if (fr.refCount < 1)
                    ++bad;
            });
        }
    });
    for (int i = 0; i < 2000; ++i) {
        device::FrameRef f = pool.take(1s);
        ASSERT_TRUE(f);
        held.present(std::move(f));
    }
    stop = true;
    drawer.join();
    held.clear();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(pool.queue().count(), 12);
}

TEST(ImagePart, DualScreenPartsStartAtTheirRowsWithTheLayoutStride) {
    device::CaptureFrame f;
    convertedFor(f, 6);
    PartSource whole = imagePartSource(f, PART_WHOLE, 256, 384);
    EXPECT_EQ(whole.pixels, f.image.data());
    EXPECT_EQ(whole.rowPixels, 256);
    EXPECT_EQ(whole.width, 256);
    EXPECT_EQ(whole.height, 384);
    PartSource top = imagePartSource(f, PART_TOP, 256, 192);
    EXPECT_EQ(top.pixels, f.image.data());
    EXPECT_EQ(top.height, 192);
    PartSource bottom = imagePartSource(f, PART_BOTTOM, 256, 192);
    EXPECT_EQ(bottom.pixels, f.image.data() + 49152 * 4);
    EXPECT_EQ(bottom.rowPixels, 256);
    EXPECT_EQ(bottom.width, 256);
    EXPECT_EQ(bottom.height, 192);
}

TEST(ImagePart, SingleScreenWholeImage) {
    device::CaptureFrame f;
    convertedFor(f, 7);
    PartSource s = imagePartSource(f, PART_WHOLE, 240, 160);
    EXPECT_EQ(s.pixels, f.image.data());
    EXPECT_EQ(s.rowPixels, 240);
    EXPECT_EQ(s.width, 240);
    EXPECT_EQ(s.height, 160);
}

TEST(ImagePart, NeverReadsBeyondTheImage) {
    device::CaptureFrame never; // never converted
    EXPECT_EQ(imagePartSource(never, PART_WHOLE, 256, 384).height, 0);

    device::CaptureFrame single;
    convertedFor(single, 7);
    // A 240 x 160 image shown by a window of the dual-screen layout.
    PartSource s = imagePartSource(single, PART_WHOLE, 256, 384);
    EXPECT_EQ(s.width, 240);
    EXPECT_EQ(s.height, 160);
    EXPECT_EQ(s.rowPixels, 240);
    const std::size_t lastByte = (static_cast<std::size_t>(s.height - 1) * s.rowPixels + s.width) * 4;
    EXPECT_LE(lastByte, single.image.size());

    device::CaptureFrame reserved;
    convertedFor(reserved, 3);
    EXPECT_EQ(imagePartSource(reserved, PART_WHOLE, 256, 384).height, 0);

    // A layout record that claims more than the image holds.
    device::CaptureFrame shortImage;
    convertedFor(shortImage, 6);
    shortImage.image.resize(256 * 100 * 4);
    EXPECT_EQ(imagePartSource(shortImage, PART_WHOLE, 256, 384).height, 100);
    EXPECT_EQ(imagePartSource(shortImage, PART_BOTTOM, 256, 192).height, 0);
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/usb/HotplugWatcher.h"

#include "device/DeviceArrival.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/ThreadNames.h"

#include <gtest/gtest.h>

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <thread>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::eventually;

namespace {

struct HotplugWatcherTest : ::testing::Test {
    void SetUp() override {
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            GTEST_SKIP() << "libusb has no hotplug support here";
    }

    std::vector<device::DeviceArrival> arrivals() const { return recorder.arrivals(); }

    tavrin::testing::ArrivalRecorder recorder;
};

TEST_F(HotplugWatcherTest, ArrivalsCloseTogetherArePostedOnceAfterTheySettle) {
    usb::HotplugWatcher watcher(recorder.handler(), 150ms);
    ASSERT_TRUE(watcher.start());
    watcher.boardArrived();
    std::this_thread::sleep_for(50ms);
    watcher.boardArrived(); // restarts the wait
    watcher.boardArrived();
    const auto last = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(60ms);
    const bool early = arrivals().empty();
    if (std::chrono::steady_clock::now() - last < 140ms) {
        EXPECT_TRUE(early) << "posted before the arrivals settled";
    }

    EXPECT_TRUE(eventually([&] { return !arrivals().empty(); }, 1s));
    std::this_thread::sleep_for(300ms); // room for a wrong second post
    auto posted = arrivals();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].interfaceClass, device::kTavrinInterfaceClass);

    // A later arrival is a new notice.
    watcher.boardArrived();
    EXPECT_TRUE(eventually([&] { return arrivals().size() >= 2; }, 1s));
    EXPECT_EQ(arrivals().size(), 2u);
}

TEST_F(HotplugWatcherTest, StopsPromptlyAndForgetsWhatWasPending) {
    usb::HotplugWatcher watcher(recorder.handler(), 200ms);
    watcher.stop(); // never started: harmless
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(watcher.running());
    auto named = [] {
        const auto names = tavrin::testing::threadNames();
        return std::count(names.begin(), names.end(), "tavrin-hotplug");
    };
    EXPECT_TRUE(eventually([&] { return named() == 1; })) << "the event thread carries its name";
    watcher.boardArrived();
    const auto before = std::chrono::steady_clock::now();
    watcher.stop();
    EXPECT_FALSE(watcher.running());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(named(), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(arrivals().empty());

    // It can be started again.
    ASSERT_TRUE(watcher.start());
    watcher.stop();
}

} // namespace

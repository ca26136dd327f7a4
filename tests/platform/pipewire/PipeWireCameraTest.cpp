// SPDX-License-Identifier: GPL-2.0-or-later
// The camera on a real PipeWire daemon, read by GStreamer's pipewiresrc. Needs the
// daemon of scripts/test-env.sh (PIPEWIRE_RUNTIME_DIR) and gst-launch-1.0. A daemon
// missing, stopped and restarted: camera_program.sh, with the whole program.
#include "platform/pipewire/PipeWireCamera.h"

#include "CameraReference.h"
#include "device/FrameQueue.h"
#include "display/CameraFormat.h"
#include "display/FrameConversion.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/TempDir.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <unistd.h>

using namespace tavrin;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tavrin::testing::eventually;

namespace {

// A frame of the pool with the simulated board's picture `n`, converted for `layoutId`.
device::FrameRef boardFrame(device::FramePool& pool, uint32_t n, int32_t layoutId) {
    device::FrameRef f = pool.take(1s);
    if (f) {
        sim::SimulatedBoard::renderPicture(n, f->data.get());
        display::convertFrame(*f, layoutId);
    }
    return f;
}

} // namespace

TEST(PipeWireCamera, AReaderKeepsGettingExactPicturesAcrossALayoutChange) {
    if (!tavrin::testing::havePipewireDaemon() || !tavrin::testing::haveGstPipewire())
        GTEST_SKIP() << "needs a PipeWire daemon and GStreamer's pipewiresrc (scripts/test-env.sh)";
    tavrin::testing::DiagnosticCapture quiet;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    const std::string name = "tavrin-capture-test-" + std::to_string(::getpid());
    pipewire::PipeWireCamera camera({name, "Tavrin Capture test", 3000ms});
    camera.setEnabled(true, {});
    ASSERT_TRUE(eventually([&] { return camera.published(); }, 5s));

    // What the camera portal looks for, and the name consumers ask for.
    std::string props;
    ASSERT_TRUE(eventually([&] { return !(props = tavrin::testing::nodeProps(name)).empty(); }, 5s));
    EXPECT_NE(props.find("\"media.class\": \"Video/Source\""), std::string::npos) << props;
    EXPECT_NE(props.find("\"media.role\": \"Camera\""), std::string::npos) << props;
    EXPECT_NE(props.find("\"node.description\": \"Tavrin Capture test\""), std::string::npos) << props;

    // Nobody reads: frames are not taken, nothing is sent or counted.
    EXPECT_FALSE(camera.wantsFrames());
    for (uint32_t n = 0; n < 5; ++n)
        camera.present(boardFrame(pool, n, device::kDualScreenLayout), {});
    EXPECT_EQ(camera.counters().sent + camera.counters().droppedBusy + camera.counters().droppedNoBuffer, 0u);
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);

    tavrin::testing::TempDir out;
    tavrin::testing::GstReader gst(name, out.path().string());
    ASSERT_TRUE(eventually([&] { return camera.wantsFrames(); }, 10s)) << "pipewiresrc did not connect";

    // 1.5 s of the dual-screen picture, then 1.5 s of the single-screen one, at the board's pace.
    std::map<uint64_t, std::pair<uint32_t, int32_t>> sentPictures;
    auto next = std::chrono::steady_clock::now();
    for (uint32_t n = 100; n < 280; ++n) {
        const int32_t layout = n < 190 ? device::kDualScreenLayout : device::kSingleScreenLayout;
        sentPictures[tavrin::testing::pictureHash(tavrin::testing::cameraPictureOf(n, layout))] = {n, layout};
        camera.present(boardFrame(pool, n, layout), {});
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(300ms);
    gst.stop();
    EXPECT_TRUE(eventually([&] { return !camera.wantsFrames(); }, 5s)) << "the reader left";
    EXPECT_TRUE(eventually([&] { return pool.queue().count() == device::FramePool::kFrameCount; }, 2s))
        << "the camera let go of every frame";

    const std::vector<std::string> files = tavrin::testing::GstReader::files(out.path().string());
    int dual = 0, single = 0, notExact = 0, outOfOrder = 0;
    uint32_t previous = 0;
    int32_t previousLayout = device::kDualScreenLayout;
    for (const std::string& f : files) {
        const std::vector<uint8_t> bytes = tavrin::testing::readBytes(f);
        const auto it = sentPictures.find(tavrin::testing::pictureHash(bytes));
        if (it == sentPictures.end() ||
            bytes != tavrin::testing::cameraPictureOf(it->second.first, it->second.second)) {
            ++notExact;
            continue;
        }
        const auto [n, layout] = it->second;
        (layout == device::kDualScreenLayout ? dual : single)++;
        outOfOrder += n <= previous || layout < previousLayout;
        previous = n;
        previousLayout = layout;
    }
    const auto c = camera.counters();
    EXPECT_EQ(notExact, 0);
    EXPECT_EQ(outOfOrder, 0);
    // A good part of each arrives (the reader may start late, end early, or lag on a busy machine).
    EXPECT_GE(dual, 30) << "sent " << c.sent << ", dropped " << c.droppedBusy << "+" << c.droppedNoBuffer;
    EXPECT_GE(single, 30) << "the reader kept getting pictures after the layout change";
    EXPECT_GE(c.sent, static_cast<uint64_t>(dual + single));

    // The user's switch takes the node away and brings it back.
    camera.setEnabled(false, {});
    EXPECT_TRUE(
        eventually([&] { return !camera.published() && tavrin::testing::nodeProps(name).empty(); }, 5s));
    // Published again, it takes the size of the arrangement now in force.
    base::PictureOptions side;
    side.arrangement = base::Arrangement::SideBySide;
    side.rotation = 90;
    camera.setEnabled(true, side);
    EXPECT_TRUE(
        eventually([&] { return camera.published() && !tavrin::testing::nodeProps(name).empty(); }, 5s));
    EXPECT_EQ(camera.counters().connects, 2u);
    tavrin::testing::TempDir turnedOut;
    tavrin::testing::GstReader turnedReader(name, turnedOut.path().string());
    ASSERT_TRUE(eventually([&] { return camera.wantsFrames(); }, 10s)) << "pipewiresrc did not connect";
    const display::CameraCanvas canvas = display::cameraCanvas(side);
    EXPECT_EQ(canvas.width, 192);
    EXPECT_EQ(canvas.height, 512);
    std::vector<uint8_t> expected(canvas.bytes());
    {
        device::FrameRef f = boardFrame(pool, 500, device::kDualScreenLayout);
        display::composeCameraPicture(*f, side, canvas, expected.data(), canvas.stride());
    }
    for (int i = 0; i < 30; ++i) {
        camera.present(boardFrame(pool, 500, device::kDualScreenLayout), side);
        std::this_thread::sleep_for(16ms);
    }
    std::this_thread::sleep_for(300ms);
    turnedReader.stop();
    const std::vector<std::string> turnedFiles = tavrin::testing::GstReader::files(turnedOut.path().string());
    EXPECT_FALSE(turnedFiles.empty());
    for (const std::string& f : turnedFiles)
        EXPECT_TRUE(tavrin::testing::readBytes(f) == expected)
            << f << " is not the turned picture, 192 x 512";
}

namespace {

// A camera published under a name of this process, once a daemon is there.
struct PublishedCamera {
    tavrin::testing::DiagnosticCapture quiet;
    std::string name;
    pipewire::PipeWireCamera camera;
    explicit PublishedCamera(const char* what)
        : name(std::string("tavrin-capture-") + what + "-" + std::to_string(::getpid())),
          camera({name, "Tavrin Capture test", 3000ms}) {
        camera.setEnabled(true, {});
    }
};

// The camera's picture of board picture `n` (dual screen) as a reader of `format` receives it.
std::vector<uint8_t> pictureIn(display::CameraFormat format, uint32_t n) {
    std::vector<uint8_t> bgrx = tavrin::testing::cameraPictureOf(n, device::kDualScreenLayout);
    const display::CameraCanvas canvas = display::cameraCanvas({});
    if (format == display::CameraFormat::Bgra)
        display::makeOpaque(bgrx.data(), canvas.stride(), canvas);
    if (format != display::CameraFormat::I420)
        return bgrx;
    std::vector<uint8_t> out(display::cameraBufferLayout(format, canvas).bytes);
    display::bgrxToI420(bgrx.data(), canvas.stride(), canvas, out.data());
    return out;
}

} // namespace

// One reader after another, each asking for one format with no conversion of its own:
// each gets exactly the program's picture in that format, moving on.
TEST(PipeWireCamera, EachReaderGetsTheFormatItAsksFor) {
    if (!tavrin::testing::havePipewireDaemon() || !tavrin::testing::haveGstPipewire())
        GTEST_SKIP() << "needs a PipeWire daemon and GStreamer's pipewiresrc (scripts/test-env.sh)";
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    PublishedCamera cam("formats");
    ASSERT_TRUE(eventually([&] { return cam.camera.published(); }, 5s));
    uint32_t n = 1000;
    for (display::CameraFormat format :
         {display::CameraFormat::I420, display::CameraFormat::Bgra, display::CameraFormat::Bgrx}) {
        SCOPED_TRACE(display::cameraFormatName(format));
        tavrin::testing::TempDir out;
        std::map<std::vector<uint8_t>, uint32_t> sent;
        {
            tavrin::testing::GstReader reader(cam.name, out.path().string(),
                                              display::cameraFormatName(format));
            ASSERT_TRUE(eventually([&] { return cam.camera.wantsFrames(); }, 10s))
                << "pipewiresrc did not connect";
            auto next = std::chrono::steady_clock::now();
            for (int i = 0; i < 45; ++i, ++n) {
                sent.emplace(pictureIn(format, n), n);
                cam.camera.present(boardFrame(pool, n, device::kDualScreenLayout), {});
                next += std::chrono::microseconds(16667);
                std::this_thread::sleep_until(next);
            }
            std::this_thread::sleep_for(200ms);
        }
        ASSERT_TRUE(eventually([&] { return !cam.camera.wantsFrames(); }, 5s)) << "the reader left";
        int exact = 0, other = 0;
        uint32_t previous = 0;
        for (const std::string& f : tavrin::testing::GstReader::files(out.path().string())) {
            const auto it = sent.find(tavrin::testing::readBytes(f));
            if (it == sent.end() || it->second <= previous) {
                ++other;
                continue;
            }
            previous = it->second;
            ++exact;
        }
        EXPECT_EQ(other, 0) << "pictures not exactly one sent, or out of order";
        EXPECT_GE(exact, 25);
    }
}

// Frames handed over faster than the camera's thread takes them replace one another;
// every frame handed to a camera that is read is either sent or counted as dropped.
TEST(PipeWireCamera, EveryFrameHandedOverIsSentOrCountedAsDropped) {
    if (!tavrin::testing::havePipewireDaemon() || !tavrin::testing::haveGstPipewire())
        GTEST_SKIP() << "needs a PipeWire daemon and GStreamer's pipewiresrc (scripts/test-env.sh)";
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    PublishedCamera cam("drops");
    ASSERT_TRUE(eventually([&] { return cam.camera.published(); }, 5s));
    tavrin::testing::TempDir out;
    tavrin::testing::GstReader reader(cam.name, out.path().string());
    ASSERT_TRUE(eventually([&] { return cam.camera.wantsFrames(); }, 10s)) << "pipewiresrc did not connect";

    uint64_t handed = 0;
    for (int round = 0; round < 20; ++round) {
        // Ten frames ready first, then handed over back to back, as a burst of arrivals would be.
        std::vector<device::FrameRef> burst;
        for (uint32_t i = 0; i < 10; ++i)
            burst.push_back(
                boardFrame(pool, static_cast<uint32_t>(round) * 10 + i, device::kDualScreenLayout));
        for (device::FrameRef& f : burst) {
            ASSERT_TRUE(f);
            cam.camera.present(std::move(f), {});
            ++handed;
        }
        burst.clear();
        ASSERT_TRUE(eventually([&] { return pool.queue().count() == device::FramePool::kFrameCount; }, 2s))
            << "the camera let go of every frame of round " << round;
        std::this_thread::sleep_for(20ms);
    }
    const auto total = [&] {
        const auto c = cam.camera.counters();
        return c.sent + c.droppedBusy + c.droppedNoBuffer;
    };
    EXPECT_TRUE(eventually([&] { return total() == handed; }, 2s));
    const auto c = cam.camera.counters();
    EXPECT_EQ(total(), handed) << "sent " << c.sent << ", dropped " << c.droppedBusy << " + "
                               << c.droppedNoBuffer;
    EXPECT_GT(c.droppedBusy, 0u) << "a burst of ten replaced frames that waited";
    EXPECT_GE(c.sent, 20u) << "at least the last of each burst reached the reader";
}

// Two readers at once, one taking the exact BGRx pixels, one converting to I420 itself:
// both get the board's pace. PipeWire gives the camera one format at a time, so a third
// that insists on I420 from the camera is not connected; the others read on meanwhile.
TEST(PipeWireCamera, TwoReadersAtOnceBothGetFullRate) {
    if (!tavrin::testing::havePipewireDaemon() || !tavrin::testing::haveGstPipewire())
        GTEST_SKIP() << "needs a PipeWire daemon and GStreamer's pipewiresrc (scripts/test-env.sh)";
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    PublishedCamera cam("two");
    ASSERT_TRUE(eventually([&] { return cam.camera.published(); }, 5s));
    tavrin::testing::TempDir exactOut, convertedOut, insistingOut;
    tavrin::testing::GstReader exact(cam.name, exactOut.path().string(), "BGRx");
    ASSERT_TRUE(eventually([&] { return cam.camera.wantsFrames(); }, 10s)) << "pipewiresrc did not connect";
    tavrin::testing::GstReader converted(cam.name, convertedOut.path().string(), {}, "I420");
    const auto count = [](const tavrin::testing::TempDir& d) {
        return tavrin::testing::GstReader::files(d.path().string()).size();
    };
    // Frames until the second reader's first picture, then 120 (two seconds) for both.
    std::set<std::vector<uint8_t>> sentBgrx;
    auto next = std::chrono::steady_clock::now();
    uint32_t n = 2000;
    const auto presentFor = [&](int frames) {
        for (int i = 0; i < frames; ++i, ++n) {
            sentBgrx.insert(pictureIn(display::CameraFormat::Bgrx, n));
            cam.camera.present(boardFrame(pool, n, device::kDualScreenLayout), {});
            next += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(next);
        }
    };
    for (int i = 0; i < 600 && count(convertedOut) == 0; ++i)
        presentFor(1);
    ASSERT_GT(count(convertedOut), 0u) << "the converting reader got nothing";
    const std::size_t exactBefore = count(exactOut), convertedBefore = count(convertedOut);
    presentFor(120);
    const std::size_t exactGot = count(exactOut) - exactBefore,
                      convertedGot = count(convertedOut) - convertedBefore;
    // A third insists on I420 from the camera while the two read on.
    {
        tavrin::testing::GstReader insisting(cam.name, insistingOut.path().string(), "I420");
        const std::size_t exactMid = count(exactOut);
        presentFor(60);
        EXPECT_GE(count(exactOut) - exactMid, 50u)
            << "the first reader slowed while another tried to connect";
    }
    const std::size_t exactAll = count(exactOut);
    exact.stop();
    converted.stop();
    std::printf("of 120 frames: %zu read exactly as BGRx, %zu converted to I420 by the reader\n", exactGot,
                convertedGot);
    // At the board's pace, each nearly every frame (a busy machine may cost a few).
    EXPECT_GE(exactGot, 105u) << "of 120";
    EXPECT_GE(convertedGot, 105u) << "of 120";
    EXPECT_LE(exactGot, 121u);
    EXPECT_EQ(count(insistingOut), 0u) << "PipeWire now connects readers of another format at once: "
                                          "update the README's camera section";
    int notExact = 0;
    for (const std::string& f : tavrin::testing::GstReader::files(exactOut.path().string()))
        notExact += sentBgrx.count(tavrin::testing::readBytes(f)) == 0;
    EXPECT_EQ(notExact, 0) << "of " << exactAll << " BGRx pictures";
    const display::CameraCanvas canvas = display::cameraCanvas({});
    for (const std::string& f : tavrin::testing::GstReader::files(convertedOut.path().string()))
        EXPECT_EQ(tavrin::testing::readBytes(f).size(),
                  display::cameraBufferLayout(display::CameraFormat::I420, canvas).bytes)
            << f;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/Screenshots.h"

#include "base/Os.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "display/FrameConversion.h"
#include "fakes/FakeScreenshotPorts.h"
#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace tavrin;
using namespace std::chrono_literals;
namespace tt = tavrin::testing;
using screenshot::Screenshots;
using tt::FakeFolderChooser;
using tt::FakePngEncoder;
using tt::FakeStatusLine;
using tt::TempDir;

namespace {

// A converted frame as the control window holds it: its own reference taken,
// the image filled with a pattern that differs in every byte position.
device::FrameRef takeConvertedFrame(device::FramePool& pool, int layoutId) {
    device::FrameRef frame = pool.take(0ms);
    frame->layout = device::screenLayouts[layoutId];
    const std::size_t pixels = std::size_t(frame->layout.width) * frame->layout.height;
    frame->image.assign(pixels * 4, 0);
    for (std::size_t i = 0; i < pixels; ++i) {
        frame->image[i * 4 + 0] = uint8_t(i * 7);      // blue
        frame->image[i * 4 + 1] = uint8_t(i * 13 + 1); // green
        frame->image[i * 4 + 2] = uint8_t(i * 29 + 2); // red
        frame->image[i * 4 + 3] = 0;
    }
    return frame;
}

std::vector<uint8_t> expectedRgb(const device::CaptureFrame& frame) {
    std::vector<uint8_t> rgb;
    for (std::size_t i = 0; i < frame.image.size(); i += 4) {
        rgb.push_back(frame.image[i + 2]);
        rgb.push_back(frame.image[i + 1]);
        rgb.push_back(frame.image[i + 0]);
    }
    return rgb;
}

base::Settings withFolder(const std::string& folder) {
    base::Settings s;
    s.outputFolder.assign(folder);
    return s;
}

class ScreenshotsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pool.setup()); }

    // A starter that keeps the worker's body for the test to run.
    screenshot::WorkerStarter heldStarter() {
        return [this](std::function<void()> body) {
            held.push_back(std::move(body));
            return true;
        };
    }

    TempDir dir;
    base::Settings settings = withFolder(dir.folder());
    tt::TempFolders folders;
    uint32_t pngCounter = 0;
    uint32_t aviCounter = 0;
    FakeStatusLine status;
    FakeFolderChooser chooser;
    FakePngEncoder encoder;
    device::FramePool pool;
    std::vector<std::function<void()>> held;
};

} // namespace

TEST_F(ScreenshotsTest, SavesEachLayoutAtItsOwnSizeAsRgbAndNamesFolderAndFile) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    struct Case {
        int layout;
        unsigned width, height;
        const char* name;
    };
    for (Case c : {Case{device::kDualScreenLayout, 256, 384, "00000.png"},
                   Case{device::kSingleScreenLayout, 240, 160, "00001.png"}}) {
        SCOPED_TRACE(c.layout);
        device::FrameRef frame = takeConvertedFrame(pool, c.layout);
        const std::vector<uint8_t> rgb = expectedRgb(*frame);
        shots.startScreenshot(frame);
        frame.reset(); // the control window lets go of its own reference
        ASSERT_TRUE(shots.waitForWorkers(5s));

        const auto call = encoder.calls().back();
        EXPECT_EQ(call.width, c.width);
        EXPECT_EQ(call.height, c.height);
        EXPECT_EQ(call.pixels, rgb);
        EXPECT_EQ(status.last(), "Saved " + dir.folder() + c.name);
        const std::string file = dir.read(c.name);
        ASSERT_GT(file.size(), rgb.size());
        EXPECT_EQ(file.substr(file.size() - rgb.size()), std::string(rgb.begin(), rgb.end()));
        EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);
    }
    EXPECT_EQ(pngCounter, 2u);
}

TEST_F(ScreenshotsTest, AnErrorFrameGivesAnAllWhitePictureInEitherLayout) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    struct Case {
        int layout;
        unsigned width, height;
    };
    for (Case c : {Case{device::kDualScreenLayout, 256, 384}, Case{device::kSingleScreenLayout, 240, 160}}) {
        SCOPED_TRACE(c.layout);
        // What the read thread delivers without a board, converted as the control window does.
        device::FrameRef frame = pool.take(0ms);
        std::memset(frame->data.get(), 0xFF, device::kFrameBufferBytes);
        frame->result = device::FRAME_ERROR;
        ASSERT_TRUE(display::convertFrame(*frame, c.layout));
        shots.startScreenshot(frame);
        frame.reset();
        ASSERT_TRUE(shots.waitForWorkers(5s));

        const auto call = encoder.calls().back();
        EXPECT_EQ(call.width, c.width);
        EXPECT_EQ(call.height, c.height);
        ASSERT_EQ(call.pixels.size(), std::size_t(c.width) * c.height * 3);
        EXPECT_TRUE(std::all_of(call.pixels.begin(), call.pixels.end(), [](uint8_t b) { return b == 0xFF; }));
    }
}

TEST_F(ScreenshotsTest, ReleasesTheFrameBeforeEncoding) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder, heldStarter());
    device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    shots.startScreenshot(frame);
    EXPECT_EQ(frame->refCount, 2) << "the job holds a reference of its own";
    frame.reset();
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount - 1);

    std::atomic<int> freeWhileEncoding{-1};
    encoder.during = [&] { freeWhileEncoding = pool.queue().count(); };
    ASSERT_EQ(held.size(), 1u);
    std::thread worker(held[0]);
    worker.join();
    EXPECT_EQ(freeWhileEncoding.load(), device::FramePool::kFrameCount);
    EXPECT_TRUE(dir.exists("00000.png"));
}

TEST_F(ScreenshotsTest, SkipsNamesThatExistInTheOutputFolder) {
    dir.write("00000.png", "old");
    dir.write("00001.png", "old");
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    device::FrameRef frame = takeConvertedFrame(pool, device::kSingleScreenLayout);
    shots.startScreenshot(frame);
    frame.reset();
    ASSERT_TRUE(shots.waitForWorkers(5s));
    EXPECT_EQ(status.last(), "Saved " + dir.folder() + "00002.png");
    EXPECT_EQ(pngCounter, 3u);
    EXPECT_EQ(dir.read("00000.png"), "old");
    EXPECT_EQ(dir.read("00001.png"), "old");
}

TEST_F(ScreenshotsTest, FailuresSayPngSaveFailedAndLeaveNoFileBehind) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);

    encoder.error = 31;
    device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    shots.startScreenshot(frame);
    frame.reset();
    ASSERT_TRUE(shots.waitForWorkers(5s));
    EXPECT_EQ(status.last(), ".png save failed.");
    EXPECT_FALSE(dir.exists("00000.png"));

    encoder.error = 0;
    base::Settings gone = withFolder(dir.folder() + "deleted/");
    Screenshots intoNowhere(gone, folders, pngCounter, aviCounter, status, chooser, encoder);
    frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    intoNowhere.startScreenshot(frame);
    frame.reset();
    ASSERT_TRUE(intoNowhere.waitForWorkers(5s));
    EXPECT_EQ(status.last(), ".png save failed.");
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);
}

TEST_F(ScreenshotsTest, AFileThatAppearedMeanwhileIsNotOverwritten) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    // Another program takes the name between the probe and the write.
    encoder.during = [&] { dir.write("00000.png", "precious"); };
    device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    shots.startScreenshot(frame);
    frame.reset();
    ASSERT_TRUE(shots.waitForWorkers(5s));
    EXPECT_EQ(dir.read("00000.png"), "precious");
    EXPECT_EQ(status.last(), ".png save failed.");
}

TEST_F(ScreenshotsTest, AWorkerThatCannotStartGivesTheFrameBack) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder,
                      [](std::function<void()>) { return false; });
    device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    shots.startScreenshot(frame);
    EXPECT_EQ(frame->refCount, 1) << "only the control window's own reference is left";
    EXPECT_EQ(status.last(), ".png save failed.");
    frame.reset();
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);
    EXPECT_TRUE(shots.waitForWorkers(0ms)) << "no worker is counted as running";
    EXPECT_TRUE(encoder.calls().empty());
}

TEST_F(ScreenshotsTest, AFrameWithoutAPictureIsRefusedWithoutTakingAReference) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder, heldStarter());
    device::FrameRef frame = pool.take(0ms);
    frame->layout = {};
    frame->image.clear();
    shots.startScreenshot(frame);
    EXPECT_EQ(frame->refCount, 1);
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(status.last(), ".png save failed.");

    // An image shorter than its layout says would be read past its end.
    frame->layout = device::screenLayouts[device::kDualScreenLayout];
    frame->image.assign(100, 0);
    shots.startScreenshot(frame);
    EXPECT_EQ(frame->refCount, 1);
    EXPECT_TRUE(held.empty());
    frame.reset();
}

TEST_F(ScreenshotsTest, SeveralWorkersAtOnceTakeSuccessiveNames) {
    {
        Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
        for (int i = 0; i < 5; ++i) {
            device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
            shots.startScreenshot(frame);
            frame.reset();
        }
    } // the destructor waits for every worker
    for (const char* name : {"00000.png", "00001.png", "00002.png", "00003.png", "00004.png"})
        EXPECT_TRUE(dir.exists(name)) << name;
    EXPECT_EQ(status.texts().size(), 5u);
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);
}

TEST_F(ScreenshotsTest, CancellingTheFolderChooserChangesNothing) {
    pngCounter = 7;
    aviCounter = 3;
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    chooser.answer = "";
    shots.chooseOutputFolder();
    ASSERT_EQ(chooser.titles.size(), 1u);
    EXPECT_EQ(chooser.titles[0], "Change Output Folder");
    EXPECT_EQ(chooser.starts[0], dir.folder());
    EXPECT_EQ(settings.outputFolder.utf8(), dir.folder());
    EXPECT_EQ(pngCounter, 7u);
    EXPECT_EQ(aviCounter, 3u);
    EXPECT_TRUE(folders.chdirCalls.empty());
}

TEST_F(ScreenshotsTest, ANewFolderBecomesCurrentAndNumberingRestartsSkippingItsFiles) {
    TempDir other;
    other.write("00000.png", "there");
    other.write("00000.avi", "there");
    pngCounter = 12;
    aviCounter = 5;
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    chooser.answer = other.path().string(); // no trailing slash from the dialog
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), other.folder());
    EXPECT_EQ(folders.currentDirectory, other.folder());
    EXPECT_EQ(pngCounter, 0u);
    EXPECT_EQ(aviCounter, 0u);

    device::FrameRef frame = takeConvertedFrame(pool, device::kDualScreenLayout);
    shots.startScreenshot(frame);
    frame.reset();
    ASSERT_TRUE(shots.waitForWorkers(5s));
    EXPECT_EQ(status.last(), "Saved " + other.folder() + "00001.png");
    EXPECT_EQ(pngCounter, 2u);

    // A path that already ends in '/' keeps a single one.
    chooser.answer = other.folder();
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), other.folder());
}

TEST_F(ScreenshotsTest, AFolderThatCannotBeUsedIsRefusedWithAMessage) {
    pngCounter = 4;
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);

    chooser.answer = dir.folder() + "missing";
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), dir.folder());
    EXPECT_EQ(pngCounter, 4u);
    EXPECT_NE(status.last().find(dir.folder() + "missing/"), std::string::npos) << status.last();

    // The settings record holds 259 characters: a folder of exactly that length fits...
    const std::string name(258 - dir.folder().size(), 'a');
    const std::filesystem::path fits = dir.path() / name;
    std::filesystem::create_directories(fits);
    chooser.answer = fits.string();
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), fits.string() + "/");
    EXPECT_EQ(settings.outputFolder.utf8().size(), 259u);

    // ...one character more does not, and nothing changes.
    const std::filesystem::path tooLong = fits / "b";
    std::filesystem::create_directories(tooLong);
    chooser.answer = tooLong.string();
    pngCounter = 9;
    folders.chdirCalls.clear();
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), fits.string() + "/");
    EXPECT_EQ(pngCounter, 9u);
    EXPECT_TRUE(folders.chdirCalls.empty()) << "the current directory stays with the stored folder";
    EXPECT_NE(status.last().find("259"), std::string::npos) << status.last();
}

TEST_F(ScreenshotsTest, FolderLengthIsCountedInCharactersNotBytes) {
    Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\u00e9"; // two bytes each in UTF-8, one unit in UTF-16
    const std::filesystem::path deep =
        dir.path() / tavrin::base::os::toPath(accents) / tavrin::base::os::toPath(accents);
    std::filesystem::create_directories(deep);
    const std::string utf8 = tavrin::base::os::fromPath(deep);
    ASSERT_GT(utf8.size(), 259u);
    chooser.answer = utf8;
    shots.chooseOutputFolder();
    EXPECT_EQ(settings.outputFolder.utf8(), utf8 + "/");
}

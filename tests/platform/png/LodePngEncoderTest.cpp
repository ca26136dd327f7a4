// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/png/LodePngEncoder.h"

#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "fakes/FakeScreenshotPorts.h"
#include "fakes/TempDir.h"
#include "fakes/TempFolders.h"
#include "screenshot/SavePng.h"
#include "screenshot/Screenshots.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <random>

using namespace tavrin;
using namespace std::chrono_literals;
namespace tt = tavrin::testing;

namespace {

struct Decoded {
    unsigned error = 0;
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> rgb;
    LodePNGColorType storedType = LCT_RGBA;
    unsigned storedDepth = 0;
};

Decoded decodeFile(const std::string& path) {
    Decoded d;
    std::vector<unsigned char> file;
    d.error = lodepng::load_file(file, path);
    if (d.error)
        return d;
    lodepng::State state;
    state.info_raw.colortype = LCT_RGB;
    state.info_raw.bitdepth = 8;
    d.error = lodepng::decode(d.rgb, d.width, d.height, state, file);
    d.storedType = state.info_png.color.colortype;
    d.storedDepth = state.info_png.color.bitdepth;
    return d;
}

} // namespace

TEST(LodePngEncoder, ScreenshotsDecodeBackToTheFramePixelsExactly) {
    tt::TempDir dir;
    base::Settings settings;
    settings.outputFolder.assign(dir.folder());
    tt::TempFolders folders;
    tt::FakeStatusLine status;
    tt::FakeFolderChooser chooser;
    png::LodePngEncoder encoder;
    uint32_t pngCounter = 0, aviCounter = 0;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    screenshot::Screenshots shots(settings, folders, pngCounter, aviCounter, status, chooser, encoder);

    std::mt19937 random(1234);
    for (int layoutId : {device::kDualScreenLayout, device::kSingleScreenLayout}) {
        SCOPED_TRACE(layoutId);
        device::FrameRef frame = pool.take(0ms);
        frame->layout = device::screenLayouts[layoutId];
        const std::size_t pixels = std::size_t(frame->layout.width) * frame->layout.height;
        frame->image.resize(pixels * 4);
        std::vector<uint8_t> expected;
        for (std::size_t i = 0; i < pixels; ++i) {
            const uint32_t v = random();
            frame->image[i * 4 + 0] = uint8_t(v);       // blue
            frame->image[i * 4 + 1] = uint8_t(v >> 8);  // green
            frame->image[i * 4 + 2] = uint8_t(v >> 16); // red
            frame->image[i * 4 + 3] = 0;
            expected.insert(expected.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        }
        shots.startScreenshot(frame);
        frame.reset();
        ASSERT_TRUE(shots.waitForWorkers(10s));

        const std::string name = status.last().substr(std::string("Saved ").size() + dir.folder().size());
        const Decoded d = decodeFile(dir.folder() + name);
        ASSERT_EQ(d.error, 0u) << lodepng_error_text(d.error);
        EXPECT_EQ(d.width, unsigned(device::screenLayouts[layoutId].width));
        EXPECT_EQ(d.height, unsigned(device::screenLayouts[layoutId].height));
        EXPECT_EQ(d.storedType, LCT_RGB);
        EXPECT_EQ(d.storedDepth, 8u);
        EXPECT_TRUE(d.rgb == expected);
    }
    EXPECT_EQ(status.texts(), (std::vector<std::string>{"Saved " + dir.folder() + "00000.png",
                                                        "Saved " + dir.folder() + "00001.png"}));
}

TEST(LodePngEncoder, SavePngReportsFileErrorsAs79AndNeverWritesThroughAnExistingName) {
    tt::TempDir dir;
    png::LodePngEncoder encoder;
    const std::vector<uint8_t> pixels(4 * 3, 0x80);
    EXPECT_EQ(screenshot::savePng(encoder, dir.folder() + "no/such/folder.png", pixels.data(), 2, 2), 79);
    dir.write("taken.png", "keep");
    EXPECT_EQ(screenshot::savePng(encoder, dir.folder() + "taken.png", pixels.data(), 2, 2), 79);
    EXPECT_EQ(dir.read("taken.png"), "keep");
    EXPECT_EQ(screenshot::savePng(encoder, dir.folder() + "ok.png", pixels.data(), 2, 2), 0);
    EXPECT_EQ(decodeFile(dir.folder() + "ok.png").rgb, pixels);
}

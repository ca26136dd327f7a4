// SPDX-License-Identifier: GPL-2.0-or-later
// The recording sink on its own: pictures handed to its video input go through the
// encoder straight into the file, as the capture pin hands them over.
#include "MediaTestSupport.h"

#include "platform/media/AviMux.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/MemAllocator.h"
#include "record/PcmFilter.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sys/mount.h>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::mediatest;
using namespace tavrin::record;

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;
constexpr REFERENCE_TIME kInterval = 333333;

MediaType rgb24(int width, int height) {
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biSizeImage = static_cast<uint32_t>(width * 3 * height);
    vih.AvgTimePerFrame = kInterval;
    MediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = true;
    type.lSampleSize = vih.bmiHeader.biSizeImage;
    type.formattype = FORMAT_VideoInfo;
    type.setFormat(vih);
    return type;
}

// Picture `n` as a top-down BGR24 image (what a decoder gives back).
std::vector<uint8_t> picture(int n) {
    std::vector<uint8_t> image(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i / 3 % kWidth) * 3 + i / (kWidth * 3) * 5 +
                                        static_cast<std::size_t>(n) * 11);
    return image;
}

std::unique_ptr<media::AviMux> openMux(const std::string& path) {
    auto mux = media::AviMux::create(path, -1);
    EXPECT_TRUE(mux) << mux.error().text;
    return mux ? std::move(*mux) : nullptr;
}

// Connects a picture input of `mux` through `encoder` and starts the file, with a
// committed allocator for pictures of that size, as the capture pin does.
void startPictures(media::AviMux& mux, media::FfmpegCompressor& encoder, int width, int height,
                   MemAllocator& allocator, SampleReceiver*& video) {
    video = mux.inputFor(MEDIATYPE_Video, &encoder);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->ReceiveConnection(rgb24(width, height)), S_OK);
    ASSERT_EQ(mux.start(), S_OK);
    ALLOCATOR_PROPERTIES want{2, width * height * 3, 4, 16}, got{};
    ASSERT_EQ(allocator.SetProperties(&want, &got), S_OK);
    ASSERT_EQ(allocator.Commit(), S_OK);
}

bool available(const std::string& name) {
    for (const media::EncoderInfo* info : media::availableEncoders())
        if (info->friendlyName == name)
            return true;
    return false;
}

TEST(RecordingSink, TakesEachStreamOnlyThroughWhatCanCarryIt) {
    TempDir dir;
    auto mux = openMux(dir.folder() + "refused.avi");
    ASSERT_TRUE(mux);
    media::FfmpegCompressor ffv1(*media::findEncoder("FFV1 (lossless)"), nullptr);
    media::FfmpegCompressor msvideo1(*media::findEncoder("Microsoft Video 1"), nullptr);
    PcmFilter pcm;
    EXPECT_EQ(mux->inputFor(MEDIATYPE_Video, nullptr), nullptr) << "a picture needs a compressor";
    EXPECT_EQ(mux->inputFor(MEDIATYPE_Video, &pcm), nullptr);
    EXPECT_EQ(mux->inputFor(MEDIATYPE_Audio, &ffv1), nullptr) << "sound goes through PCM or nothing";
    SampleReceiver* sound = mux->inputFor(MEDIATYPE_Audio, &pcm);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->ReceiveConnection(rgb24(kWidth, kHeight)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(sound->ReceiveConnection(media::pcmType(48000, 2)), S_OK);
    SampleReceiver* video = mux->inputFor(MEDIATYPE_Video, &msvideo1);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->ReceiveConnection(media::pcmType(48000, 2)), VFW_E_TYPE_NOT_ACCEPTED);
    if (available("Microsoft Video 1")) {
        EXPECT_EQ(video->ReceiveConnection(rgb24(250, kHeight)), VFW_E_TYPE_NOT_ACCEPTED)
            << "its encoder takes only multiples of 4";
    }
    EXPECT_EQ(mux->start(), VFW_E_NOT_CONNECTED)
        << "a stream left without a type keeps the file from starting";
}

// A long recording's index is megabytes: the disk counts as full while it still has
// room for it, on the simulated disk and on a real small filesystem. Small pictures of
// noise make many chunks, so that the index is a good part of what the disk holds.
TEST(RecordingSink, AFullDiskStillHasTheRoomKeptForTheIndex) {
    constexpr int kSide = 16;
    TempDir small;
    const bool mounted =
        ::geteuid() == 0 && ::mount("tmpfs", small.folder().c_str(), "tmpfs", 0, "size=1m") == 0;
    struct Disk {
        const char* name;
        std::string folder;
        int64_t limit;
    };
    TempDir dir;
    std::vector<Disk> disks = {{"simulated", dir.folder(), 1 << 20}};
    if (mounted)
        disks.push_back({"tmpfs", small.folder(), -1});
    std::mt19937 noise(7);
    for (const Disk& disk : disks) {
        const std::string path = disk.folder + "room.avi";
        {
            auto made = media::AviMux::create(path, disk.limit);
            ASSERT_TRUE(made) << made.error().text;
            auto& mux = *made;
            media::FfmpegCompressor ffv1(*media::findEncoder("FFV1 (lossless)"), nullptr);
            MemAllocator allocator;
            SampleReceiver* video = nullptr;
            ASSERT_NO_FATAL_FAILURE(startPictures(*mux, ffv1, kSide, kSide, allocator, video));
            HRESULT hr = S_OK;
            for (int n = 0; n < 100000 && hr == S_OK; ++n) {
                SamplePtr sample;
                ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);
                uint8_t* p = nullptr;
                sample->GetPointer(&p);
                for (int i = 0; i < kSide * kSide * 3; ++i)
                    p[i] = static_cast<uint8_t>(noise());
                sample->SetActualDataLength(kSide * kSide * 3);
                const REFERENCE_TIME start = n * kInterval, end = start + kInterval;
                sample->SetTime(&start, &end);
                hr = video->Receive(sample.get());
            }
            EXPECT_EQ(hr, E_DISK_FULL) << disk.name;
            EXPECT_EQ(mux->stop(), E_DISK_FULL) << disk.name;
        }
        const AviLayout layout = readAviLayout(path);
        ASSERT_TRUE(layout.ok) << disk.name;
        EXPECT_GT(layout.chunks.size(), 500u) << disk.name;
        EXPECT_EQ(layout.indexEntries, static_cast<int64_t>(layout.chunks.size()))
            << disk.name << ": the room kept holds the index";
        EXPECT_EQ(layout.riffEnd, layout.fileSize) << disk.name;
    }
    if (mounted)
        ::umount(small.folder().c_str());
}

class DirectPath : public ::testing::TestWithParam<const char*> {};

// Thirty pictures handed over as the pin hands them, then a stop without the stream's
// end (the graph stopped under it): every picture is in the file, in order, and the
// header counts them. x264 holds frames back for its look-ahead, so the stop has to
// flush the encoder for the last of them to arrive.
TEST_P(DirectPath, EveryPictureReachesTheFileAndAStopFlushesTheEncoder) {
    if (!available(GetParam()))
        GTEST_SKIP() << GetParam() << " is not in this libavcodec";
    TempDir dir;
    const std::string path = dir.folder() + "direct.avi";
    auto mux = openMux(path);
    ASSERT_TRUE(mux);
    media::FfmpegCompressor compressor(*media::findEncoder(GetParam()), nullptr);
    MemAllocator allocator;
    SampleReceiver* video = nullptr;
    ASSERT_NO_FATAL_FAILURE(startPictures(*mux, compressor, kWidth, kHeight, allocator, video));
    constexpr int kPictures = 30;
    const std::size_t row = kWidth * 3;
    for (int n = 0; n < kPictures; ++n) {
        SamplePtr sample;
        ASSERT_EQ(allocator.GetBuffer(&sample), S_OK);
        uint8_t* p = nullptr;
        sample->GetPointer(&p);
        const std::vector<uint8_t> image = picture(n);
        for (int y = 0; y < kHeight; ++y) // bottom row first
            std::memcpy(p + (kHeight - 1 - y) * row, image.data() + y * row, row);
        sample->SetActualDataLength(kWidth * kHeight * 3);
        const REFERENCE_TIME start = n * kInterval, end = start + kInterval;
        sample->SetTime(&start, &end);
        ASSERT_EQ(video->Receive(sample.get()), S_OK) << n;
    }
    ASSERT_EQ(mux->stop(), S_OK);
    mux.reset();

    const ProbedFile file = probe(path);
    ASSERT_TRUE(file.ok);
    const ProbedStream* stream = file.first("video");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->frames, kPictures);
    EXPECT_EQ(stream->declaredFrames, kPictures);
    const auto frames = decodeVideo(path, kWidth, kHeight);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kPictures));
    if (media::findEncoder(GetParam())->lossless) {
        for (int n = 0; n < kPictures; ++n)
            EXPECT_TRUE(frames[n] == picture(n)) << "picture " << n;
    }
    EXPECT_EQ(readAviLayout(path).emptyVideoChunks(), 0);
}

INSTANTIATE_TEST_SUITE_P(Encoders, DirectPath, ::testing::Values("FFV1 (lossless)", "H.264 (x264)"));

} // namespace

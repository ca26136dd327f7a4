// SPDX-License-Identifier: GPL-2.0-or-later
#include "MediaTestSupport.h"

#include "fakes/FakeControlWindow.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "platform/media/FfmpegPlatform.h"
#include "record/DeviceEnum.h"
#include "record/Recorder.h"

#include <gtest/gtest.h>

#include <map>

using namespace tavrin;
using namespace tavrin::mediatest;
using namespace tavrin::record;
using namespace std::chrono_literals;

namespace {

class FakeHost : public CompressorDialogHost {
  public:
    bool configure(void*, const std::string& title, std::vector<CodecOption>& options) override {
        configureTitle = title;
        seen = options;
        for (auto& o : options)
            for (auto& [name, value] : edits)
                if (o.name == name)
                    o.value = value;
        return accept;
    }
    void about(void*, const std::string& title, const std::string& text) override {
        aboutTitle = title;
        aboutText = text;
    }
    std::vector<std::pair<std::string, std::string>> edits;
    bool accept = true;
    std::string configureTitle, aboutTitle, aboutText;
    std::vector<CodecOption> seen;
};

std::vector<std::string> listNames(MediaPlatform& platform, const GUID& category) {
    std::vector<std::string> names;
    findDevice(platform, &names, category, listFriendlyName);
    return names;
}

TEST(Compressors, TheDefaultAndALosslessOneAreOfferedWithTheirOwnNames) {
    media::FfmpegPlatform platform;
    const auto names = listNames(platform, CLSID_VideoCompressorCategory);
    EXPECT_NE(std::find(names.begin(), names.end(), "Microsoft Video 1"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "FFV1 (lossless)"), names.end());
    if (media::findEncoder("H.264 (x264)")) {
        EXPECT_NE(std::find(names.begin(), names.end(), "H.264 (x264)"), names.end());
    }
    EXPECT_EQ(listNames(platform, CLSID_AudioCompressorCategory), std::vector<std::string>{"PCM"});
}

class EveryEncoder : public ::testing::TestWithParam<int> {};

TEST_P(EveryEncoder, RecordsAFileThatFfprobeReads) {
    const auto encoders = media::availableEncoders();
    if (GetParam() >= static_cast<int>(encoders.size()))
        GTEST_SKIP() << "fewer encoders in this libavcodec";
    const media::EncoderInfo& info = *encoders[GetParam()];
    TempDir dir;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    base::Settings settings = base::Settings::defaults("");
    settings.outputFolder.assign(dir.folder());
    settings.videoCodec.assign(info.friendlyName);
    settings.audioSource.assign("(no sound)");
    settings.recordFps = 20;
    media::FfmpegPlatform platform;
    Recorder recorder(platform, settings);
    tavrin::testing::DiagnosticCapture diag;
    ASSERT_TRUE(recorder.startRecording("00020.avi")) << info.friendlyName;
    feedFrames(pool, recorder, device::kDualScreenLayout, 60, 1000ms);
    recorder.stopRecording();
    const ProbedFile file = probe(dir.folder() + "00020.avi");
    ASSERT_TRUE(file.ok) << info.friendlyName;
    const ProbedStream* video = file.first("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 256);
    EXPECT_EQ(video->height, 384);
    EXPECT_NEAR(static_cast<double>(video->frames), 20.0, 3.0) << info.friendlyName;
    EXPECT_EQ(video->codec,
              info.encoderName == "libx264rgb" || info.encoderName == "libx264" ? "h264" : info.encoderName)
        << "the AVI names the codec that wrote it";
}

INSTANTIATE_TEST_SUITE_P(Catalog, EveryEncoder, ::testing::Range(0, 8));

TEST(Compressors, QualityIsOfferedOnlyWhereTheEncoderHasOne) {
    for (const media::EncoderInfo* info : media::availableEncoders()) {
        media::FfmpegCompressor compressor(*info, nullptr);
        auto* vc = dynamic_cast<IAMVideoCompression*>(&compressor);
        ASSERT_NE(vc, nullptr) << "the output pin answers the quality interface";
        int32_t caps = -1;
        double defaultQuality = 0;
        ASSERT_EQ(vc->GetInfo(&defaultQuality, &caps), S_OK);
        const bool expectQuality = info->quality != media::QualityMapping::None;
        EXPECT_EQ((caps & CompressionCaps_CanQuality) != 0, expectQuality) << info->friendlyName;
        if (!expectQuality) {
            EXPECT_EQ(vc->put_Quality(0.5), E_NOTIMPL);
            continue;
        }
        double q = 0;
        EXPECT_EQ(vc->get_Quality(&q), S_OK);
        EXPECT_LT(q, 0) << "no quality until one is given";
        EXPECT_EQ(defaultQuality, media::kDefaultQuality);
        EXPECT_EQ(vc->put_Quality(0.5), S_OK);
        EXPECT_EQ(vc->get_Quality(&q), S_OK);
        EXPECT_EQ(q, 0.5);
        EXPECT_EQ(vc->put_Quality(1.01), E_INVALIDARG);
        EXPECT_EQ(vc->put_Quality(-0.01), E_INVALIDARG);
    }
}

TEST(Compressors, LowerQualityMakesSmallerFiles) {
    if (!media::findEncoder("MPEG-4 Part 2"))
        GTEST_SKIP();
    std::vector<long> sizes;
    for (double quality : {1.0, 0.2}) {
        TempDir dir;
        device::FramePool pool;
        ASSERT_TRUE(pool.setup());
        base::Settings settings = base::Settings::defaults("");
        settings.outputFolder.assign(dir.folder());
        settings.videoCodec.assign("MPEG-4 Part 2");
        settings.videoQuality = quality;
        settings.audioSource.assign("(no sound)");
        media::FfmpegPlatform platform;
        Recorder recorder(platform, settings);
        ASSERT_TRUE(recorder.startRecording("q.avi"));
        feedFrames(pool, recorder, device::kDualScreenLayout, 60, 700ms, 0, paintNoise);
        recorder.stopRecording();
        sizes.push_back(std::stol(runCommand("stat -c %s '" + dir.folder() + "q.avi'")));
    }
    EXPECT_LT(sizes[1] * 2, sizes[0]) << "quality 0.2 against 1.0";
}

TEST(Compressors, StateRoundTripsThroughTheOpaqueBlob) {
    const media::EncoderInfo* ffv1 = media::findEncoder("FFV1 (lossless)");
    ASSERT_NE(ffv1, nullptr);
    media::FfmpegCompressor a(*ffv1, nullptr);
    ASSERT_TRUE(a.setOption("coder", "2"));
    ASSERT_TRUE(a.setOption("context", "1"));
    int32_t size = 0;
    ASSERT_EQ(a.GetState(nullptr, &size), S_OK);
    ASSERT_GT(size, 0);
    std::vector<uint8_t> blob(static_cast<std::size_t>(size));
    int32_t small = size - 1;
    EXPECT_EQ(a.GetState(blob.data(), &small), E_INVALIDARG);
    ASSERT_EQ(a.GetState(blob.data(), &size), S_OK);

    media::FfmpegCompressor b(*ffv1, nullptr);
    ASSERT_EQ(b.SetState(blob.data(), size), S_OK);
    auto value = [](const media::FfmpegCompressor& c, const std::string& name) {
        for (const auto& o : c.options())
            if (o.name == name)
                return o.value;
        return std::string("?");
    };
    EXPECT_EQ(value(b, "coder"), "2");
    EXPECT_EQ(value(b, "context"), "1");

    // The state of one encoder is not given to another, and junk is refused.
    media::FfmpegCompressor huff(*media::findEncoder("HuffYUV (lossless)"), nullptr);
    EXPECT_EQ(huff.SetState(blob.data(), size), E_INVALIDARG);
    const char junk[] = "no newline here";
    EXPECT_EQ(b.SetState(junk, sizeof junk - 1), E_INVALIDARG);
    EXPECT_EQ(value(b, "coder"), "2") << "a refused state changes nothing";
    // A state with every option at its default resets what was set before.
    media::FfmpegCompressor fresh(*ffv1, nullptr);
    int32_t freshSize = 0;
    fresh.GetState(nullptr, &freshSize);
    std::vector<uint8_t> freshBlob(static_cast<std::size_t>(freshSize));
    fresh.GetState(freshBlob.data(), &freshSize);
    ASSERT_EQ(b.SetState(freshBlob.data(), freshSize), S_OK);
    EXPECT_EQ(value(b, "coder"), value(fresh, "coder"));
}

// x264 starts with its fast preset for live capture, which its state carries; the dialog
// sees each option with the kind it edits it by.
TEST(Compressors, X264StartsWithItsFastPresetAndOptionsHaveTheirKinds) {
    const media::EncoderInfo* x264 = media::findEncoder("H.264 (x264)");
    if (!x264)
        GTEST_SKIP() << "x264 is not in this libavcodec";
    media::FfmpegCompressor c(*x264, nullptr);
    std::map<std::string, CodecOption> options;
    for (const CodecOption& o : c.options())
        options[o.name] = o;
    EXPECT_EQ(options["preset"].value, "veryfast");
    const std::pair<const char*, CodecOption::Kind> kinds[] = {
        {"preset", CodecOption::Kind::Text},        {"crf", CodecOption::Kind::Real},
        {"aq-mode", CodecOption::Kind::Choice},     {"rc-lookahead", CodecOption::Kind::Integer},
        {"fast-pskip", CodecOption::Kind::Boolean},
    };
    for (const auto& [name, kind] : kinds)
        EXPECT_TRUE(options.count(name) && options[name].kind == kind) << name;
    int32_t size = 0;
    ASSERT_EQ(c.GetState(nullptr, &size), S_OK);
    std::string state(static_cast<std::size_t>(size), '\0');
    ASSERT_EQ(c.GetState(state.data(), &size), S_OK);
    EXPECT_NE(state.find("preset=veryfast"), std::string::npos) << state;
}

TEST(Compressors, SavedQualityAndStateReachTheSavedCompressorOnly) {
    tavrin::testing::DiagnosticCapture diag;
    media::FfmpegPlatform platform;
    base::Settings settings = base::Settings::defaults("");
    settings.videoCodec.assign("FFV1 (lossless)");
    media::FfmpegCompressor source(*media::findEncoder("FFV1 (lossless)"), nullptr);
    source.setOption("slicecrc", "1");
    int32_t size = 0;
    source.GetState(nullptr, &size);
    settings.videoCodecSettings.resize(static_cast<std::size_t>(size));
    source.GetState(settings.videoCodecSettings.data(), &size);
    Recorder recorder(platform, settings);

    auto filter = recorder.findVideoCompressor("FFV1 (lossless)");
    ASSERT_NE(filter, nullptr);
    auto* ffv1 = dynamic_cast<media::FfmpegCompressor*>(filter.get());
    bool crc = false;
    for (const auto& o : ffv1->options())
        crc |= o.name == "slicecrc" && o.value == "true";
    EXPECT_TRUE(crc);
    EXPECT_EQ(diag.count("getFilter:SetState(31766666.., " + std::to_string(size) + ")=0\n"), 1)
        << diag.text();

    if (media::findEncoder("MPEG-4 Part 2")) {
        settings.videoCodec.assign("MPEG-4 Part 2");
        settings.videoQuality = 0.4;
        auto mpeg4 = recorder.findVideoCompressor("MPEG-4 Part 2");
        auto* vc = dynamic_cast<IAMVideoCompression*>(mpeg4.get());
        double q = 0;
        vc->get_Quality(&q);
        EXPECT_EQ(q, 0.4);
        // Looked up under a name that is not the saved one: neither quality nor state.
        settings.videoCodec.assign("FFV1 (lossless)");
        mpeg4 = recorder.findVideoCompressor("MPEG-4 Part 2");
        vc = dynamic_cast<IAMVideoCompression*>(mpeg4.get());
        vc->get_Quality(&q);
        EXPECT_LT(q, 0);
    }
    EXPECT_EQ(recorder.findVideoCompressor("Nothing by this name"), nullptr);
}

TEST(Compressors, ConfigureEditsThePrivateOptionsAndAboutNamesTheLibraries) {
    FakeHost host;
    const media::EncoderInfo* ffv1 = media::findEncoder("FFV1 (lossless)");
    media::FfmpegCompressor c(*ffv1, &host);
    EXPECT_EQ(c.ShowDialog(VfwCompressDialog_QueryConfig, nullptr), S_OK);
    EXPECT_EQ(c.ShowDialog(VfwCompressDialog_QueryAbout, nullptr), S_OK);
    host.edits = {{"context", "1"}};
    EXPECT_EQ(c.ShowDialog(VfwCompressDialog_Config, nullptr), S_OK);
    EXPECT_EQ(host.configureTitle, "FFV1 (lossless)");
    bool sawCoderChoices = false;
    for (const auto& o : host.seen)
        if (o.name == "coder")
            sawCoderChoices = o.kind == CodecOption::Kind::Choice && o.choices.size() >= 3;
    EXPECT_TRUE(sawCoderChoices) << "named values become a choice";
    int32_t size = 0;
    c.GetState(nullptr, &size);
    std::string state(static_cast<std::size_t>(size), '\0');
    c.GetState(state.data(), &size);
    EXPECT_NE(state.find("context=1"), std::string::npos) << state;

    host.edits = {{"context", "0"}};
    host.accept = false;
    EXPECT_EQ(c.ShowDialog(VfwCompressDialog_Config, nullptr), S_FALSE) << "cancelled: nothing changes";
    c.GetState(nullptr, &size);
    state.assign(static_cast<std::size_t>(size), '\0');
    c.GetState(state.data(), &size);
    EXPECT_NE(state.find("context=1"), std::string::npos);

    EXPECT_EQ(c.ShowDialog(VfwCompressDialog_About, nullptr), S_OK);
    EXPECT_EQ(host.aboutTitle, "About FFV1 (lossless)");
    EXPECT_NE(host.aboutText.find("Encoder: ffv1"), std::string::npos);
    EXPECT_NE(host.aboutText.find("libavcodec "), std::string::npos);
    EXPECT_NE(host.aboutText.find("libavformat "), std::string::npos);

    // msvideo1 has no options of its own: nothing to configure, but an about box.
    media::FfmpegCompressor msv(*media::findEncoder("Microsoft Video 1"), &host);
    EXPECT_EQ(msv.ShowDialog(VfwCompressDialog_QueryConfig, nullptr), S_FALSE);
    EXPECT_EQ(msv.ShowDialog(VfwCompressDialog_QueryAbout, nullptr), S_OK);
    // Without a host there are no dialogs at all.
    media::FfmpegCompressor bare(*ffv1, nullptr);
    EXPECT_EQ(bare.ShowDialog(VfwCompressDialog_QueryAbout, nullptr), S_FALSE);
}

} // namespace

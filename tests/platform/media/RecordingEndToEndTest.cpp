// SPDX-License-Identifier: GPL-2.0-or-later
#include "MediaTestSupport.h"

#include "fakes/FakeControlWindow.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegPlatform.h"
#include "record/Recorder.h"
#if HAVE_TAVRIN_PULSE
#include "platform/pulse/PulseListener.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <cmath>
#include <cstring>
#include <thread>

using namespace tavrin;
using namespace tavrin::mediatest;
using namespace std::chrono_literals;

namespace {

struct Harness {
    explicit Harness(const std::string& codec) {
        EXPECT_TRUE(pool.setup());
        settings.outputFolder.assign(dir.folder());
        settings.videoCodec.assign(codec);
    }
    TempDir dir;
    device::FramePool pool;
    base::Settings settings = base::Settings::defaults("");
    media::FfmpegPlatform platform;
    record::Recorder recorder{platform, settings};
};

std::string secondLine(const std::string& status) {
    return status.substr(status.find('\n') + 1);
}

TEST(RecordingEndToEnd, TenSecondsFromASixtyFrameBoardAtThirtyWithTheTone) {
    if (!soundServerAvailable())
        GTEST_SKIP() << "no sound server: run under scripts/test-env.sh";
    tavrin::testing::DiagnosticCapture diag;
    Harness h("Microsoft Video 1");
    h.settings.recordFps = 30;
    TonePlayer tone(1000.0, 15.0, h.dir.folder());
    ASSERT_TRUE(tone.started());
    std::this_thread::sleep_for(400ms); // let the tone reach the sink

    ASSERT_TRUE(h.recorder.startRecording("00001.avi"));
    EXPECT_EQ(secondLine(h.recorder.updateRecordingStatus()), "00:00:00, 0 MB (0 kB/s), 0.00 FPS");
    feedFrames(h.pool, h.recorder, device::kDualScreenLayout, 60, 10s);
    const std::string running = h.recorder.updateRecordingStatus();
    EXPECT_EQ(running.rfind(h.dir.folder() + "00001.avi\n00:00:", 0), 0u) << running;
    // The rate is samples over grid time: about 30 whichever side of it a loaded machine lands.
    const std::size_t comma = running.rfind(", ", running.find(" FPS"));
    ASSERT_NE(comma, std::string::npos) << running;
    const double fps = std::atof(running.c_str() + comma + 2);
    EXPECT_GE(fps, 28.5) << "about 30 samples a second: " << running;
    EXPECT_LE(fps, 30.5) << "about 30 samples a second: " << running;
    h.recorder.stopRecording();
    EXPECT_EQ(h.recorder.recorderApp(), nullptr);
    EXPECT_EQ(h.recorder.updateRecordingStatus(), h.dir.folder() + "00001.avi\nStopped.");
    EXPECT_EQ(diag.count("getAudioSource failed"), 0);

    const ProbedFile file = probe(h.dir.folder() + "00001.avi");
    ASSERT_TRUE(file.ok);
    const ProbedStream* video = file.first("video");
    const ProbedStream* audio = file.first("audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codec, "msvideo1");
    EXPECT_EQ(video->width, 256);
    EXPECT_EQ(video->height, 384);
    EXPECT_NEAR(static_cast<double>(video->frames), 300.0, 10.0);
    EXPECT_EQ(audio->codec, "pcm_s16le");
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_NEAR(audio->duration, video->duration, 1.0 / 30) << "sound and picture end together";
    EXPECT_NEAR(video->duration, 10.0, 0.2);
    EXPECT_EQ(readAviLayout(h.dir.folder() + "00001.avi").microSecPerFrame, 33333u)
        << "the main header's frame time is the picture's, not the sound's";

    // The tone is there, and it is the tone: 1 kHz far above its neighbours.
    const std::vector<int16_t> sound = decodeAudioMono(h.dir.folder() + "00001.avi");
    ASSERT_GT(sound.size(), 48000u * 9);
    const double tone1k = tonePower(sound, 48000, 48000 * 9, 48000, 1000);
    const double off = tonePower(sound, 48000, 48000 * 9, 48000, 1370);
    EXPECT_GT(tone1k, 100 * off);
    double rms = 0;
    for (std::size_t i = 48000; i < 48000 * 9; ++i)
        rms += static_cast<double>(sound[i]) * sound[i];
    rms = std::sqrt(rms / (48000 * 8));
    EXPECT_GT(rms, 3000) << "the tone plays at about a third of full scale";
}

void recordTwiceWithTheSoundWhole(bool timeTheClick) {
    Harness h("FFV1 (lossless)");
    h.settings.recordFps = 30;
    TonePlayer tone(1000.0, 25.0, h.dir.folder());
    ASSERT_TRUE(tone.started());
    // As the program does when it starts; then the user reaches for the record button.
    h.recorder.prepareSoundInput();
    std::this_thread::sleep_for(2500ms);

    for (const auto& [name, length] : {std::pair{"00001.avi", 6000ms}, std::pair{"00002.avi", 3000ms}}) {
        const auto click = std::chrono::steady_clock::now();
        ASSERT_TRUE(h.recorder.startRecording(name));
        const auto clickTook = std::chrono::steady_clock::now() - click;
        if (timeTheClick) {
            EXPECT_LE(clickTook, 50ms) << name << ": the click does not wait for the sound input";
        }
        feedFrames(h.pool, h.recorder, device::kDualScreenLayout, 60, length);
        record::AudioCaptureStatus sound;
        ASSERT_TRUE(h.recorder.soundStatus(&sound)) << name;
        EXPECT_EQ(sound.gaps, 0) << name << ": a source that delivers gets no silence";
        EXPECT_EQ(sound.splices, 0) << name << ": nothing it delivers is cut";
        EXPECT_FALSE(sound.lost) << name;
        h.recorder.stopRecording();
        // The picture starts at the click.
        const ProbedFile file = probe(h.dir.folder() + name);
        ASSERT_NE(file.first("video"), nullptr);
        EXPECT_GE(file.first("video")->duration, std::chrono::duration<double>(length).count() - 0.5) << name;
    }
    // The first recording's input was opened when the program started; the second finds
    // it delivering as the first left it. Neither may start with silence or have a hole.
    for (const char* name : {"00001.avi", "00002.avi"}) {
        const std::vector<int16_t> sound = decodeAudioMono(h.dir.folder() + name);
        ASSERT_GT(sound.size(), 48000u * 2) << name;
        std::size_t first = 0;
        while (first < sound.size() && std::abs(sound[first]) < 1000)
            ++first;
        EXPECT_LE(first, 4800u) << name << ": no silence at the start beyond 100 ms";
        // Every 10 ms carries the tone, to the very end: the sound heard before the stop
        // is waited for.
        for (std::size_t at = first; at + 480 <= sound.size(); at += 480) {
            int peak = 0;
            for (std::size_t i = at; i < at + 480; ++i)
                peak = std::max(peak, std::abs(static_cast<int>(sound[i])));
            ASSERT_GT(peak, 1000) << name << ": silence at " << static_cast<double>(at) / 48000 << " s";
        }
        int lastPeak = 0;
        for (std::size_t i = sound.size() - 120; i < sound.size(); ++i)
            lastPeak = std::max(lastPeak, std::abs(static_cast<int>(sound[i])));
        EXPECT_GT(lastPeak, 1000) << name << ": the last 2.5 ms are silent";
    }
}

TEST(RecordingEndToEnd, RecordingsStartAtTheClickWithTheirSoundWholeToTheEnd) {
    if (!soundServerAvailable())
        GTEST_SKIP() << "no sound server: run under scripts/test-env.sh";
    recordTwiceWithTheSoundWhole(true);
}

#if HAVE_TAVRIN_PULSE
// The same while the input is played through the speakers: the listener's stream on the
// input takes nothing from the recording's.
TEST(RecordingEndToEnd, RecordingsWhileListeningKeepTheirSoundWhole) {
    if (!soundServerAvailable())
        GTEST_SKIP() << "no sound server: run under scripts/test-env.sh";
    pulse::PulseListener listener;
    listener.listen(true, "");
    // The click's time is the test above's: here a second real-time client shares the
    // machine's two cores with the tests beside it, and the time says nothing of the file.
    recordTwiceWithTheSoundWhole(false);
    const pulse::PulseListener::Figures figures = listener.figures();
    EXPECT_TRUE(figures.playing);
    EXPECT_GT(figures.framesOut, 48000u * 9) << "it played all along";
}
#endif

class LosslessRecording : public ::testing::TestWithParam<const char*> {};

TEST_P(LosslessRecording, EveryDecodedFrameIsExactlyAConvertedImage) {
    if (!media::findEncoder(GetParam()))
        GTEST_SKIP() << GetParam() << " is not in this libavcodec";
    tavrin::testing::DiagnosticCapture diag;
    Harness h(GetParam());
    h.settings.recordFps = 30;
    h.settings.recordScreens = 2; // the bottom screen: 256 x 192 from pixel 49152
    h.settings.audioSource.assign("(no sound)");
    ASSERT_TRUE(h.recorder.startRecording("00002.avi"));
    const auto fed = feedFrames(h.pool, h.recorder, device::kDualScreenLayout, 60, 1500ms);
    h.recorder.stopRecording();
    EXPECT_EQ(diag.count("getAudioSource failed\n"), 1) << "\"(no sound)\" names no device";

    const ProbedFile file = probe(h.dir.folder() + "00002.avi");
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.first("audio"), nullptr) << "video only";
    ASSERT_NE(file.first("video"), nullptr);
    EXPECT_EQ(file.first("video")->width, 256);
    EXPECT_EQ(file.first("video")->height, 192);

    const auto frames = decodeVideo(h.dir.folder() + "00002.avi", 256, 192);
    ASSERT_GE(frames.size(), 40u);
    std::vector<std::vector<uint8_t>> expected;
    for (uint64_t n : fed)
        expected.push_back(expectedArea(device::kDualScreenLayout, n, 256, 192, 49152));
    std::size_t lastMatch = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        bool found = false;
        for (std::size_t k = lastMatch; k < expected.size() && !found; ++k) {
            if (frames[i] == expected[k]) {
                found = true;
                lastMatch = k;
            }
        }
        ASSERT_TRUE(found) << "decoded frame " << i << " is no fed image (in order)";
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, LosslessRecording,
                         ::testing::Values("FFV1 (lossless)", "HuffYUV (lossless)", "Ut Video (lossless)"));

TEST(RecordingEndToEnd, SingleScreenLayoutRecords240x160WhateverTheChoice) {
    for (uint32_t screens : {0u, 1u, 2u}) {
        Harness h("FFV1 (lossless)");
        h.settings.displayMode = device::kSingleScreenLayout;
        h.settings.recordScreens = screens;
        h.settings.audioSource.assign("(no sound)");
        ASSERT_TRUE(h.recorder.startRecording("00003.avi"));
        const auto fed = feedFrames(h.pool, h.recorder, device::kSingleScreenLayout, 60, 400ms);
        h.recorder.stopRecording();
        const ProbedFile file = probe(h.dir.folder() + "00003.avi");
        ASSERT_TRUE(file.ok);
        ASSERT_NE(file.first("video"), nullptr);
        EXPECT_EQ(file.first("video")->width, 240);
        EXPECT_EQ(file.first("video")->height, 160);
        const auto frames = decodeVideo(h.dir.folder() + "00003.avi", 240, 160);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0], expectedArea(device::kSingleScreenLayout, fed[0], 240, 160, 0));
    }
}

} // namespace

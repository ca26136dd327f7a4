// SPDX-License-Identifier: GPL-2.0-or-later
#include "MediaTestSupport.h"

#include "fakes/FakeControlWindow.h"
#include "fakes/FakeReceiver.h"
#include "platform/media/AudioCaptureFilter.h"
#include "platform/media/FfmpegPlatform.h"
#include "record/Recorder.h"
#include "record/RecordingGraph.h"
#include "record/ReferenceClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::mediatest;
using namespace std::chrono_literals;

namespace {

using Steady = std::chrono::steady_clock;

// Raw 48 kHz stereo sound through a named pipe, read by the capture pin as it reads
// a sound server, at a pace the test sets: 20 ms at a time in real time, except for
// a stall after which everything missed comes at once (a starved sound server).
class PipedSound {
  public:
    PipedSound(const std::string& path, std::chrono::milliseconds stallAt, std::chrono::milliseconds stall)
        : stallAt_(stallAt), stall_(stall) {
        ::mkfifo(path.c_str(), 0600);
        fd_ = ::open(path.c_str(),
                     O_RDWR | O_CLOEXEC); // a writer from the start: the reader's open cannot block
        thread_ = std::thread([this] { run(); });
    }
    ~PipedSound() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

  private:
    void run() {
        const auto start = Steady::now();
        int64_t sent = 0; // 20 ms packets
        std::vector<int16_t> packet(960 * 2, 3000);
        while (!stop_) {
            const auto now = Steady::now();
            if (now - start >= stallAt_ && now - start < stallAt_ + stall_) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            for (; sent * 20ms <= now - start; ++sent)
                if (::write(fd_, packet.data(), packet.size() * 2) < 0)
                    return;
            std::this_thread::sleep_for(5ms);
        }
    }

    std::chrono::milliseconds stallAt_;
    std::chrono::milliseconds stall_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The sound input reading PipedSound, alone in a graph, into a receiver that keeps
// what it is given.
struct PipedCapture {
    PipedCapture(std::chrono::milliseconds stallAt, std::chrono::milliseconds stall)
        : sound(dir.folder() + "sound", stallAt, stall),
          source(std::make_shared<media::AudioCaptureFilter>(
              media::AudioDevice{"s16le", dir.folder() + "sound", "pipe", false})) {}
    bool connect() {
        return sound.ok() && graph->AddFilter(source, "audioSource") == record::S_OK &&
               graph->ConnectDirect(source->pin, sink.get(), nullptr) == record::S_OK;
    }
    int64_t delivered() const {
        int64_t samples = 0;
        for (const auto& s : sink->samples())
            samples += static_cast<int64_t>(s.bytes.size()) / 4;
        return samples;
    }

    TempDir dir;
    struct CloseDevices {
        ~CloseDevices() { media::AudioCaptureFilter::closeIdleDevices(); }
    } closer; // last: once the pipe has no writer, the input's thread ends
    PipedSound sound;
    std::shared_ptr<media::AudioCaptureFilter> source;
    std::shared_ptr<tavrin::testing::FakeReceiver> sink =
        std::make_shared<tavrin::testing::FakeReceiver>(record::MEDIATYPE_Audio);
    std::shared_ptr<record::RecordingGraph> graph = std::make_shared<record::RecordingGraph>(nullptr);
};

TEST(AudioCapture, ASourceHeldUpForOneAndAHalfSecondsLosesNothingAndGetsNoSilence) {
    record::AudioCaptureStatus status;
    int64_t delivered = 0;
    double seconds = 0;
    {
        PipedCapture capture(1500ms, 1500ms);
        ASSERT_TRUE(capture.connect());
        ASSERT_EQ(capture.graph->Run(), record::S_OK);
        const auto started = Steady::now();
        std::this_thread::sleep_for(4500ms); // 1 s steady, the stall, the burst, 1.5 s steady
        seconds = std::chrono::duration<double>(Steady::now() - started).count();
        capture.graph->Stop();
        capture.source->GetCaptureStatus(&status);
        delivered = capture.delivered();
    }
    EXPECT_EQ(status.gaps, 0) << "a source held up for less than 2 s gets no silence";
    EXPECT_EQ(status.splices, 0) << "and nothing it hands over afterwards is cut";
    EXPECT_LE(status.leadSamples, 4800);
    // All of it is there, up to the stop and a frame past it: the stop waits for the sound
    // heard before it, which a recording's last picture may still need.
    EXPECT_GE(static_cast<double>(delivered), (seconds + 0.04) * 48000);
    EXPECT_LE(static_cast<double>(delivered), (seconds + 0.25) * 48000);
}

TEST(AudioCapture, AStopBeforeAnySoundEndsAtOnceWithNothing) {
    // Sound only before the recording: the input opens on it, and it is all too early.
    PipedCapture capture(200ms, std::chrono::hours(1));
    ASSERT_TRUE(capture.connect());
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(capture.graph->Run(), record::S_OK);
    std::this_thread::sleep_for(100ms);
    const auto stopping = Steady::now();
    capture.graph->Stop();
    // The stop waits a little for sound heard before it, and no longer.
    EXPECT_LT(Steady::now() - stopping, 1500ms);
    EXPECT_EQ(capture.delivered(), 0)
        << "nothing was heard, and no silence stands in for sound that is not late";
}

// A platform whose one sound input cannot be opened: unplugged between the list and
// the recording.
class UnpluggedSoundInput : public media::FfmpegPlatform {
  public:
    record::HRESULT CreateClassEnumerator(const record::GUID& category,
                                          std::vector<record::DeviceMoniker>* devices) override {
        if (!(category == record::CLSID_AudioInputDeviceCategory))
            return FfmpegPlatform::CreateClassEnumerator(category, devices);
        devices->assign({{std::string("Unplugged"), []() -> std::shared_ptr<record::BaseFilter> {
                              return std::make_shared<media::AudioCaptureFilter>(media::AudioDevice{
                                  "s16le", "/nonexistent/tavrin-sound", "Unplugged", false});
                          }}});
        return record::S_OK;
    }
};

TEST(AudioCapture, AnInputThatCannotBeOpenedSaysSoAndThePictureIsRecorded) {
    tavrin::testing::DiagnosticCapture diag;
    TempDir dir;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    base::Settings settings = base::Settings::defaults("");
    settings.outputFolder.assign(dir.folder());
    settings.videoCodec.assign("FFV1 (lossless)");
    settings.audioSource.assign("Unplugged");
    settings.recordFps = 30;
    UnpluggedSoundInput platform;
    {
        record::Recorder recorder(platform, settings);
        ASSERT_TRUE(recorder.startRecording("00001.avi"));
        feedFrames(pool, recorder, device::kDualScreenLayout, 60, 1500ms);
        const std::string status = recorder.updateRecordingStatus();
        EXPECT_NE(status.find(", sound lost"), std::string::npos) << status;
        recorder.stopRecording();
    }
    media::AudioCaptureFilter::closeIdleDevices();
    EXPECT_EQ(diag.count("The sound input \"Unplugged\" could not be opened"), 1);
    const ProbedFile file = probe(dir.folder() + "00001.avi");
    ASSERT_NE(file.first("video"), nullptr);
    EXPECT_GE(file.first("video")->frames, 40) << "the picture is recorded";
    ASSERT_NE(file.first("audio"), nullptr);
    EXPECT_NEAR(file.first("audio")->duration, file.first("video")->duration, 1.0 / 30)
        << "silence where the sound would be";
}

// A stretch of a sample or two is a change of pitch too small to hear, but squeezed
// into a few samples it is a step in the wave. Sound servers hand over packets of
// 2 to 26 samples now and then, and the drift correction's stretch can fall on them.
TEST(AudioCapture, StretchesOnPacketsOfAFewSamplesLeaveTheWaveSmooth) {
    media::SoundStretcher stretcher;
    const double step = 2 * std::numbers::pi * 440 / 48000;
    const std::vector<int64_t> sizes = {957, 3, 500, 26, 434, 2, 960, 7};
    std::vector<uint8_t> out;
    int64_t fed = 0, stretched = 0, written = 0;
    for (int i = 0; i < 400; ++i) {
        const int64_t n = sizes[static_cast<std::size_t>(i) % sizes.size()];
        std::vector<int16_t> packet;
        for (int64_t k = 0; k < n; ++k) {
            const auto v =
                static_cast<int16_t>(std::lround(8000 * std::sin(step * static_cast<double>(fed + k))));
            packet.insert(packet.end(), {v, v});
        }
        fed += n;
        // A sample more or fewer on every small packet, and now and then on a large one.
        const int64_t stretch = n < 30 ? (i % 4 < 2 ? 1 : -1) : (i % 16 == 0 ? 4 : 0);
        stretched += stretch;
        written += stretcher.add(reinterpret_cast<const uint8_t*>(packet.data()), n, stretch, out);
    }
    ASSERT_EQ(static_cast<std::size_t>(written) * 4, out.size());
    EXPECT_NEAR(static_cast<double>(written), static_cast<double>(fed + stretched), 32)
        << "every stretch is carried out, and the sound is all there";
    // A smooth 440 Hz wave of this level bends by at most 27 from sample to sample.
    std::vector<int16_t> left(static_cast<std::size_t>(written));
    for (std::size_t k = 0; k < left.size(); ++k)
        std::memcpy(&left[k], out.data() + k * 4, 2);
    int worst = 0;
    std::size_t at = 0;
    for (std::size_t k = 64; k + 1 < left.size(); ++k)
        if (const int bend = std::abs(left[k + 1] - 2 * left[k] + left[k - 1]); bend > worst) {
            worst = bend;
            at = k;
        }
    EXPECT_LE(worst, 40) << "a step in the wave at sample " << at;
}

} // namespace

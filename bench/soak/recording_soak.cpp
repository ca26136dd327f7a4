// SPDX-License-Identifier: GPL-2.0-or-later
// Records the simulated board's picture and the default sound input in real time,
// as the program does, and reports how whole the recording came out: grid slots
// left empty, silences put in and cuts made in the sound, and the file's lengths.
// Used by bench/recording_soak.sh, which plays a tone and loads the machine.
//
//   recording_soak SECONDS OUTPUT.avi [CODEC] [FPS] [fast]
//
// "fast" records SECONDS of media time of a noise picture (hard to compress) as fast
// as the encoder goes, without sound, on a clock that moves with the frames: a way to
// make files past 1 GiB quickly.
#include "base/Diagnostics.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "display/FrameConversion.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/Recorder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace tavrin;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SECONDS OUTPUT.avi [CODEC] [FPS]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    std::string path = argv[2];
    const std::string codec = argc > 3 ? argv[3] : "Microsoft Video 1";
    const int fps = argc > 4 ? std::atoi(argv[4]) : 30;
    const bool fast = argc > 5 && std::string(argv[5]) == "fast";
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    base::setDiagnosticsToStdout(std::getenv("SOAK_DEBUG") != nullptr);
    device::FramePool pool;
    pool.setup();
    base::Settings settings;
    settings.outputFolder.assign(folder);
    settings.videoCodec.assign(codec);
    settings.recordFps = fps;
    media::FfmpegPlatform platform;
    auto manualClock = std::make_shared<record::ManualReferenceClock>();
    std::shared_ptr<record::ReferenceClock> clock = std::make_shared<record::SystemReferenceClock>();
    if (fast) {
        settings.audioSource.assign("(no sound)");
        clock = manualClock;
    }
    record::Recorder recorder(platform, settings, nullptr, clock);
    if (!fast) {
        // As for a recording after an earlier one: the sound input is open and
        // delivering when the user clicks record.
        recorder.prepareSoundInput();
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    if (!recorder.startRecording(name)) {
        std::fprintf(stderr, "the recording did not start: %s\n", recorder.failure().text.c_str());
        return 1;
    }

    // The board: a frame every 1/60 s, converted and handed over as the control window does.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto boardInterval = std::chrono::nanoseconds(16'666'667);
    auto due = start;
    auto nextStatus = start + std::chrono::seconds(1);
    uint64_t n = 0;
    uint64_t noise = 0x9E3779B97F4A7C15ull;
    const auto frames = static_cast<uint64_t>(seconds * 60);
    while (fast ? n < frames : Clock::now() < end) {
        if (device::FrameRef frame = pool.take(std::chrono::milliseconds(500))) {
            sim::SimulatedBoard::renderPicture(n++, frame->data.get());
            display::convertFrame(*frame, device::kDualScreenLayout);
            if (fast) {
                for (uint8_t& byte : frame->image) {
                    noise ^= noise << 13;
                    noise ^= noise >> 7;
                    noise ^= noise << 17;
                    byte = static_cast<uint8_t>(noise);
                }
                manualClock->set(static_cast<record::REFERENCE_TIME>(n) * 166666 + 1);
            }
            if (auto* app = recorder.recorderApp())
                app->putFrame(frame);
        }
        if (Clock::now() >= nextStatus) {
            nextStatus += std::chrono::seconds(1);
            const std::string status = recorder.updateRecordingStatus();
            std::printf("%s\n", status.substr(status.find('\n') + 1).c_str());
            std::fflush(stdout);
            if (!recorder.recorderApp())
                break; // it stopped by itself
        }
        due += boardInterval;
        if (!fast)
            std::this_thread::sleep_until(due);
    }

    int64_t samples = 0;
    int64_t skipped = 0;
    record::AudioCaptureStatus sound;
    const bool hasSound = recorder.soundStatus(&sound);
    if (auto* app = recorder.recorderApp()) {
        app->getStatistic(record::STAT_SAMPLES, &samples);
        app->getStatistic(record::STAT_SKIPPED, &skipped);
    }
    recorder.stopRecording();
    const int64_t slots = samples + skipped;
    std::printf("slots %lld filled %lld empty %lld (%.3f %% filled)\n", static_cast<long long>(slots),
                static_cast<long long>(samples), static_cast<long long>(skipped),
                slots ? 100.0 * static_cast<double>(samples) / static_cast<double>(slots) : 0.0);
    if (hasSound) {
        const double rate = sound.sampleRate ? sound.sampleRate : 48000;
        std::printf("sound: lead silence %.1f ms, inserted silences %lld (%.1f ms), splices %lld (%.1f ms)\n",
                    sound.leadSamples * 1000.0 / rate, static_cast<long long>(sound.gaps),
                    sound.gapSamples * 1000.0 / rate, static_cast<long long>(sound.splices),
                    sound.splicedSamples * 1000.0 / rate);
    } else {
        std::printf("sound: none (%s)\n", recorder.soundNote().c_str());
    }
    if (recorder.failure())
        std::printf("failure: %s\n", recorder.failure().text.c_str());
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows recorder as the program drives it, for scripts/win32-recording-test.sh:
// the simulated board's pictures at its own rate, the sound of the default WASAPI
// capture endpoint, the recorder and the AVI writer of the program. What the files
// hold is checked on Linux, by ffprobe/ffmpeg.
//   tavrin_win32_record.exe record FOLDER SECONDS   one file per compressor offered
//   tavrin_win32_record.exe crash FOLDER            records until killed
//   tavrin_win32_record.exe recover FOLDER          what the program does at its start
//   tavrin_win32_record.exe full FOLDER             records onto a disk that holds 3 MiB
#include "device/FrameQueue.h"
#include "display/FrameConversion.h"
#include "platform/media/AudioCaptureFilter.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/Recorder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace tavrin;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBoardFps = 60; // the board's rate; the recording takes 30 of them a second

struct Setup {
    explicit Setup(const std::string& folder, media::FfmpegPlatform::Options options = {})
        : platform(nullptr, std::move(options)) {
        settings.outputFolder.assign(folder.back() == '/' ? folder : folder + "/");
        settings.recordFps = 30;
    }
    device::FramePool pool;
    base::Settings settings = base::Settings::defaults("");
    media::FfmpegPlatform platform;
    record::Recorder recorder{platform, settings};
};

// Hands the recording the board's pictures as the control window does, until `until`.
void feed(Setup& s, Clock::time_point until) {
    const auto start = Clock::now();
    const auto period = std::chrono::nanoseconds(1'000'000'000LL / kBoardFps);
    for (uint64_t n = 0;; ++n) {
        const auto due = start + n * period;
        if (due >= until)
            return;
        std::this_thread::sleep_until(due);
        const device::FrameRef frame = s.pool.take(std::chrono::milliseconds(500));
        if (!frame)
            continue; // every frame is held: the recording has fallen behind
        if (!frame->data)
            frame->data.reset(new uint8_t[device::kFrameBufferBytes]());
        sim::SimulatedBoard::renderPicture(n, frame->data.get());
        display::convertFrame(*frame, device::kDualScreenLayout);
        if (record::ITavrinCaptureApp* app = s.recorder.recorderApp())
            app->putFrame(frame);
    }
}

int recordEach(const std::string& folder, double seconds) {
    Setup s(folder);
    if (!s.pool.setup())
        return 2;
    // As the program does at its start: the sound input is warm when the user clicks.
    s.recorder.prepareSoundInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    int failures = 0;
    for (const media::EncoderInfo* info : media::availableEncoders()) {
        s.settings.videoCodec.assign(info->friendlyName);
        const std::string name = info->encoderName + ".avi";
        if (!s.recorder.startRecording(name)) {
            std::printf("%s: did not start: %s\n", name.c_str(), s.recorder.failure().text.c_str());
            ++failures;
            continue;
        }
        feed(s, Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)));
        record::AudioCaptureStatus sound;
        const bool hasSound = s.recorder.soundStatus(&sound);
        s.recorder.stopRecording();
        std::printf("%s %s sound=%d gaps=%lld splices=%lld lost=%d %s\n", name.c_str(),
                    info->friendlyName.c_str(), hasSound ? 1 : 0, static_cast<long long>(sound.gaps),
                    static_cast<long long>(sound.splices), sound.lost ? 1 : 0,
                    s.recorder.soundNote().c_str());
        if (!hasSound || sound.gaps != 0 || sound.lost)
            ++failures;
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}

// The recording ends by itself when the disk is full, and says why.
int recordOntoAFullDisk(const std::string& folder) {
    media::FfmpegPlatform::Options options;
    options.diskLimit = 3 << 20;
    Setup s(folder, options);
    s.settings.videoCodec.assign("HuffYUV (lossless)");
    if (!s.pool.setup() || !s.recorder.startRecording("full.avi"))
        return 2;
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (s.recorder.recorderApp() && Clock::now() < limit) {
        feed(s, Clock::now() + std::chrono::milliseconds(100));
        s.recorder.updateRecordingStatus(); // where a failure ends the recording, as in the program
    }
    const bool stopped = !s.recorder.recorderApp();
    const std::string status = s.recorder.updateRecordingStatus();
    std::printf("%s\n", status.substr(status.find('\n') + 1).c_str());
    return stopped ? 0 : 1;
}

int recordUntilKilled(const std::string& folder) {
    Setup s(folder);
    s.settings.videoCodec.assign("Motion JPEG");
    if (!s.pool.setup() || !s.recorder.startRecording("killed.avi"))
        return 2;
    feed(s, Clock::now() + std::chrono::seconds(2));
    std::printf("recording\n");
    std::fflush(stdout);
    feed(s, Clock::now() + std::chrono::minutes(5));
    return 3; // not killed
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    int code = 2;
    if (mode == "record" && argc > 3) {
        code = recordEach(argv[2], std::atof(argv[3]));
    } else if (mode == "crash") {
        code = recordUntilKilled(argv[2]);
    } else if (mode == "full") {
        code = recordOntoAFullDisk(argv[2]);
    } else if (mode == "recover") {
        Setup s(argv[2]);
        std::printf("%s\n", s.recorder.recoverRecordings().c_str());
        code = 0;
    } else {
        std::fprintf(stderr,
                     "usage: tavrin_win32_record.exe record FOLDER SECONDS | crash|recover|full FOLDER\n");
    }
    media::AudioCaptureFilter::closeIdleDevices();
    return code;
}

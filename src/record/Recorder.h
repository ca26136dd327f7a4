// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "base/Settings.h"
#include "record/MediaInterfaces.h"
#include "record/MediaPlatform.h"
#include "record/RecordingControl.h"
#include "record/RecordingDialogs.h"
#include "record/RecordingGraph.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::record {

// The compressor named `name`, or null; when it is the saved one (`videoCodec`) it
// gets the saved quality and the saved state blob.
std::shared_ptr<BaseFilter> findVideoCompressor(MediaPlatform& platform, const base::Settings& settings,
                                                const std::string& name);

// A state blob's first four bytes as a little-endian number (missing bytes count as 0).
uint32_t firstFourBytes(const std::vector<uint8_t>& blob);

// Milliseconds of a system timer that wraps at 32 bits, like timeGetTime.
uint32_t systemMilliseconds();

// The status line of a running recording (the arithmetic of updateRecordingStatus):
// `lastTime` is the grid time of the last frame, `bytes` the file size, `samples` the
// samples delivered; `statusTime`/`statusKiB` hold the previous update and are updated.
std::string formatRecordingStatus(const std::string& folder, const std::string& fileName, int64_t lastTime,
                                  int64_t bytes, int64_t samples, uint32_t now, uint32_t& statusTime,
                                  uint32_t& statusKiB);

// Builds, runs, watches and tears down the recording graph: board frames from
// TavrinFilter through the chosen video compressor, and the chosen sound input
// through "PCM", into one AVI file. Runs on the control window's thread.
class Recorder : public RecordingControl {
  public:
    // Reads outputFolder (for the status line), displayMode, recordScreens, recordFps,
    // videoCodec, videoQuality, videoCodecSettings, audioSource and audioCompressor of
    // `settings`, which the two settings dialogs change. Main thread only.
    Recorder(MediaPlatform& platform, base::Settings& settings, RecordingDialogs* dialogs = nullptr,
             std::shared_ptr<ReferenceClock> clock = std::make_shared<SystemReferenceClock>(),
             std::function<uint32_t()> milliseconds = systemMilliseconds);
    ~Recorder() override;

    bool startRecording(const std::string& fileName) override;
    void stopRecording() override;
    std::string updateRecordingStatus() override;
    ITavrinCaptureApp* recorderApp() override { return recorderApp_.get(); }
    std::string recoverRecordings() override;
    void prepareSoundInput() override;

    // The compressor with that name, given the saved quality and state when it is the saved one.
    std::shared_ptr<BaseFilter> findVideoCompressor(const std::string& name);

    void setDialogs(RecordingDialogs* dialogs) { dialogs_ = dialogs; }
    const std::string& recordFileName() const { return recordFileName_; }
    // Why the last recording ended or did not start; none when the user stopped it.
    const base::Error& failure() const { return failure_; }
    // The graph of the running recording, or null (for tests and diagnostics).
    std::shared_ptr<RecordingGraph> graph() const { return captureBuilder_; }
    // What the sound input has done so far; false when the recording has no sound.
    bool soundStatus(AudioCaptureStatus* status) const;
    // Why the running recording has no sound although the user did not turn it off; empty otherwise.
    const std::string& soundNote() const { return soundNote_; }

  private:
    bool failStart(const std::string& why);
    // The sound input the settings choose, or null (no sound).
    std::shared_ptr<BaseFilter> findSoundInput();
    std::string missingSoundNote();
    // Takes a failure reported by a filter, if any.
    bool takeGraphFailure();

    MediaPlatform& platform_;
    base::Settings& settings_;
    RecordingDialogs* dialogs_;
    std::shared_ptr<ReferenceClock> clock_;
    std::function<uint32_t()> milliseconds_;

    // The recording state: all none while idle.
    std::shared_ptr<RecordingGraph> captureBuilder_; // the graph and its builder in one
    std::shared_ptr<RecordingGraph> mediaControl_;   // the same graph, once it is to run
    std::shared_ptr<IMediaSeeking> muxSeeking_;
    std::shared_ptr<ITavrinCaptureApp> recorderApp_;
    std::shared_ptr<IAudioCaptureStatus> audioStatus_;
    std::string soundNote_;
    uint32_t slotReportTime_ = 0; // last skipped-slot line on the debug output
    std::string recordFileName_;
    uint32_t statusTime_ = 0;
    uint32_t statusKiB_ = 0;
    base::Error failure_;
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/media/AudioCaptureFilter.h"
#include "record/CompressorDialogHost.h"
#include "record/MediaPlatform.h"

#include <cstdint>
#include <vector>

namespace tavrin::media {

// Registers libavdevice's inputs once per process.
void ensureDevicesRegistered();

// The recording's media library on Linux: libavcodec encoders as the video
// compressors, "PCM" as the one audio compressor, PulseAudio sources (ALSA when
// no sound server answers) as audio inputs, and our own OpenDML AVI writer.
class FfmpegPlatform : public record::MediaPlatform {
  public:
    struct Options {
        // Behave as if the disk held only this many bytes (tests of a full disk); -1: no limit.
        int64_t diskLimit = -1;
    };

    explicit FfmpegPlatform(record::CompressorDialogHost* dialogHost = nullptr)
        : FfmpegPlatform(dialogHost, {}) {}
    FfmpegPlatform(record::CompressorDialogHost* dialogHost, Options options);

    record::HRESULT CreateClassEnumerator(const record::GUID& category,
                                          std::vector<record::DeviceMoniker>* devices) override;
    base::Result<std::shared_ptr<record::RecordingSink>> CreateAviMux(const std::string& path) override;

    std::string soundProblem() override;
    std::vector<std::string> recoverRecordings(const std::string& folder) override;

    // The sound inputs in the system's order, the default one first; dummies last.
    static std::vector<AudioDevice> listAudioDevices();

  private:
    record::CompressorDialogHost* host_;
    Options options_;
};

} // namespace tavrin::media

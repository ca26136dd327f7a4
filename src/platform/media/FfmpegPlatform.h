// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/media/AudioCaptureFilter.h"
#include "record/CompressorDialogHost.h"
#include "record/MediaPlatform.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrin::media {

// Sets the libraries up once per process (libavdevice's inputs where it is used).
void ensureDevicesRegistered();

// The recording's media library on Linux: libavcodec encoders as the video
// compressors, "PCM" as the one audio compressor, PulseAudio sources (ALSA when
// no sound server answers) as audio inputs, and our own OpenDML AVI writer.
class FfmpegPlatform : public record::MediaPlatform {
  public:
    // What one look at the system's sound inputs found.
    struct SoundInputs {
        bool serverAnswered = false; // a sound server listed its inputs
        // In the system's order, the default one first; dummies last.
        std::vector<AudioDevice> devices;
    };

    struct Options {
        // Behave as if the disk held only this many bytes (tests of a full disk); -1: no limit.
        int64_t diskLimit = -1;
        // How the sound inputs are looked for (tests count the looks); empty: probeSoundInputs.
        std::function<SoundInputs()> probeSound;
    };

    explicit FfmpegPlatform(record::CompressorDialogHost* dialogHost = nullptr)
        : FfmpegPlatform(dialogHost, {}) {}
    FfmpegPlatform(record::CompressorDialogHost* dialogHost, Options options);

    record::HRESULT CreateClassEnumerator(const record::GUID& category,
                                          std::vector<record::DeviceMoniker>* devices) override;
    base::Result<std::shared_ptr<record::RecordingSink>> CreateAviMux(const std::string& path) override;

    std::string soundProblem() override;
    void soundInputsMayHaveChanged() override;
    bool soundServerAnswers() override;
    std::vector<std::string> recoverRecordings(const std::string& folder) override;

    // Asks the sound server for its inputs, and ALSA when no server answers or it has
    // none. ALSA's listing opens every possible card's control device (about a hundred
    // opens in one burst), so the platform looks once and keeps what it found.
    static SoundInputs probeSoundInputs();
    static std::vector<AudioDevice> listAudioDevices() { return probeSoundInputs().devices; }
    // Asks only the sound server (quickly, as often as the program needs).
    static SoundInputs probeSoundServer();

  private:
    // The inputs last found, looked for on first use.
    SoundInputs soundInputs();

    record::CompressorDialogHost* host_;
    Options options_;
    std::mutex soundMutex_;
    std::optional<SoundInputs> soundInputs_;
};

} // namespace tavrin::media

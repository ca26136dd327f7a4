// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "platform/media/AudioCaptureFilter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::media {

// The one part of sound capture that each system does its own way: an open input
// that hands over what it heard as the capture pin takes it (48 kHz stereo 16-bit).
// The reader thread, the timeline and the pin around it are the same everywhere.
class SoundInput {
  public:
    enum class Read { Sound, NothingYet, Failed };
    virtual ~SoundInput() = default;
    // Appends what has been heard since the last call to `bytes`. NothingYet: ask again
    // in a few milliseconds. Failed: the input is gone, `error` says why.
    virtual Read read(std::vector<uint8_t>& bytes, std::string& error) = 0;
};

base::Result<std::unique_ptr<SoundInput>> openSoundInput(const AudioDevice& device);

} // namespace tavrin::media

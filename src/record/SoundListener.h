// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::record {

// Plays the sound input through the computer's speakers while the user plays on the
// screen ("Listen"). Every call comes from the GUI thread and returns at once: the
// sound server is reached on a thread of the listener's own, which keeps trying
// when there is none.
class SoundListener {
  public:
    virtual ~SoundListener() = default;
    // `source`: the settings' audioSource as recordings read it (empty: the system's
    // default input; kNoSoundItem: nothing). Off, or nothing to play: no stream at all.
    virtual void listen(bool on, const std::string& source) = 0;
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "record/BaseFilter.h"
#include "record/MediaTypes.h"
#include "record/RecordingSink.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::record {

// One device of a category as the platform's enumerator lists it.
struct DeviceMoniker {
    // None when the device's name cannot be read; such a device is skipped.
    std::optional<std::string> friendlyName;
    // Makes the device's filter; null when that fails.
    std::function<std::shared_ptr<BaseFilter>()> bind;
    // A device that gives nothing real (a "null" sink): taken only when named.
    bool dummy = false;
};

// What the recording needs of the platform's media library: its devices
// (video compressors, audio compressors, audio inputs) and the AVI file writer.
class MediaPlatform {
  public:
    virtual ~MediaPlatform() = default;
    // S_OK with the devices in the system's order, S_FALSE for an empty category,
    // an error when the category cannot be enumerated.
    virtual HRESULT CreateClassEnumerator(const GUID& category, std::vector<DeviceMoniker>* devices) = 0;
    // The AVI multiplexer joined to its file for `path`, or why there is none.
    virtual base::Result<std::shared_ptr<RecordingSink>> CreateAviMux(const std::string& path) = 0;
    // Why there are no sound inputs, in words for the user ("No sound server is running."),
    // or empty when nothing stands in the way.
    virtual std::string soundProblem() { return {}; }
    // The sound inputs may have changed since they were last listed (one was plugged
    // in): the next listing asks the system again instead of taking what it found before.
    virtual void soundInputsMayHaveChanged() {}
    // True when a sound server lists the sound inputs: a listing that costs no device
    // opens, so the chosen input may be opened ahead of any need. The list it gave is kept.
    virtual bool soundServerAnswers() { return false; }
    // Finishes the recordings in `folder` that a program left unfinished (a crash, a
    // power cut) and returns their file names.
    virtual std::vector<std::string> recoverRecordings(const std::string& /*folder*/) { return {}; }
};

} // namespace tavrin::record

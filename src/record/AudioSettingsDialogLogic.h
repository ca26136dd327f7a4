// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaPlatform.h"
#include "record/RecordingSettings.h"

#include <string>
#include <vector>

namespace tavrin::record {

// The list entry after the devices that records no sound (no device has that name).
inline constexpr const char* kNoSoundItem = "(no sound)";

// The Audio Settings dialog's controls as its logic sees them.
class AudioSettingsDialogView {
  public:
    virtual ~AudioSettingsDialogView() = default;
    virtual void setSourceItems(const std::vector<std::string>& items) = 0;
    virtual void setSourceSelection(int index) = 0;
    virtual int sourceSelection() const = 0;
    virtual void setCompressorItems(const std::vector<std::string>& items) = 0;
    virtual void setCompressorSelection(int index) = 0;
    virtual int compressorSelection() const = 0;
    // Why no sound input can be listed ("no sound server is running"); empty hides it.
    virtual void showSoundProblem(const std::string& text) { (void)text; }
};

// Fills the sound input list (system order, then "(no sound)") and the compressor
// list (sorted), selects the saved ones, and stores the choice on OK.
class AudioSettingsDialogLogic {
  public:
    AudioSettingsDialogLogic(AudioSettingsDialogView& view, RecordingSettings& settings,
                             MediaPlatform& platform);

    void onOpen();
    // OK: stores both names; the caller ends the dialog with 1 (Cancel: with 0, nothing stored).
    void onOk();

  private:
    AudioSettingsDialogView& view_;
    RecordingSettings& settings_;
    MediaPlatform& platform_;
    std::vector<std::string> sources_;
    std::vector<std::string> compressors_;
};

} // namespace tavrin::record

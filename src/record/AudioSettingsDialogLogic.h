// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "record/MediaPlatform.h"
#include "record/SoundChoice.h"

#include <string>
#include <vector>

namespace tavrin::record {

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
    // The "Listen" check box under the device list, shown only where the build can listen.
    virtual void showListen(bool checked) { (void)checked; }
    virtual bool listenChecked() const { return false; }
};

// Fills the sound input list (system order, then "(no sound)") and the compressor
// list (sorted), selects the saved ones, and stores the choice on OK. `listen`: the
// program's "Listen" switch, shown and stored with them; null: the dialog has none.
class AudioSettingsDialogLogic {
  public:
    AudioSettingsDialogLogic(AudioSettingsDialogView& view, base::Settings& settings, MediaPlatform& platform,
                             bool* listen = nullptr);

    void onOpen();
    // OK: stores both names; the caller ends the dialog with 1 (Cancel: with 0, nothing stored).
    void onOk();

  private:
    AudioSettingsDialogView& view_;
    base::Settings& settings_;
    MediaPlatform& platform_;
    bool* listen_;
    std::vector<std::string> sources_;
    std::vector<std::string> compressors_;
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "platform/qt_record/QtCompressorDialogHost.h"
#include "platform/qt_record/QtRecordingDialogs.h"
#include "record/Recorder.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace tavrin::qt_record {

// Everything recording needs in the program, made once by the control window:
// the media library (made by `makePlatform`, given Qt dialogs for its compressors),
// the recorder, and the two settings dialogs. `settings` is the program's settings
// record; `status` sets the control window's status line.
class RecordingSetup {
  public:
    using PlatformFactory =
        std::function<std::unique_ptr<record::MediaPlatform>(record::CompressorDialogHost* dialogHost)>;
    RecordingSetup(QWidget* controlWindow, base::Settings& settings,
                   std::function<void(const std::string&)> status, const PlatformFactory& makePlatform);

    // What the control window calls to record (startRecording, stopRecording, ...).
    record::RecordingControl& control() { return recorder_; }
    record::Recorder& recorder() { return recorder_; }
    // The Video settings and Audio settings buttons.
    bool showVideoCodecDialog();
    // `listen`: the "Listen" switch the dialog shows and sets on OK; null: no such switch.
    int showAudioSettingsDialog(bool* listen = nullptr);

  private:
    QWidget* owner_;
    base::Settings& settings_;
    std::function<void(const std::string&)> status_;
    QtCompressorDialogHost host_;
    std::unique_ptr<record::MediaPlatform> platform_;
    QtRecordingDialogs dialogs_;
    record::Recorder recorder_;
};

} // namespace tavrin::qt_record

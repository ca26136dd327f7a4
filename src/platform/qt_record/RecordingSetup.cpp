// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/RecordingSetup.h"

#include "platform/qt_record/AudioSettingsDialog.h"
#include "platform/qt_record/VideoCodecDialog.h"

namespace tavrin::qt_record {

RecordingSetup::RecordingSetup(QWidget* controlWindow, base::Settings& settings,
                               std::function<void(const std::string&)> status,
                               const PlatformFactory& makePlatform)
    : owner_(controlWindow), settings_(settings), status_(std::move(status)), platform_(makePlatform(&host_)),
      dialogs_(controlWindow, settings, *platform_), recorder_(*platform_, settings, &dialogs_) {}

bool RecordingSetup::showVideoCodecDialog() {
    return qt_record::showVideoCodecDialog(owner_, settings_, *platform_);
}

int RecordingSetup::showAudioSettingsDialog(bool* listen) {
    return runAudioSettingsDialog(owner_, settings_, *platform_, status_, listen);
}

} // namespace tavrin::qt_record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/AudioSettingsDialogLogic.h"

#include "record/DeviceEnum.h"
#include "record/ListText.h"

namespace tavrin::record {

AudioSettingsDialogLogic::AudioSettingsDialogLogic(AudioSettingsDialogView& view, base::Settings& settings,
                                                   MediaPlatform& platform, bool* listen)
    : view_(view), settings_(settings), platform_(platform), listen_(listen) {}

void AudioSettingsDialogLogic::onOpen() {
    sources_.clear();
    // Inputs come and go between openings: the list shown is the system's as of now.
    platform_.soundInputsMayHaveChanged();
    findDevice(platform_, &sources_, CLSID_AudioInputDeviceCategory, listFriendlyName);
    const bool noInputs = sources_.empty();
    sources_.push_back(kNoSoundItem);
    view_.setSourceItems(sources_);
    const std::string problem = noInputs ? platform_.soundProblem() : std::string();
    view_.showSoundProblem(problem.empty() ? problem
                                           : "No sound can be recorded: " + problem +
                                                 ". Start the sound server, then open this dialog again.");
    // Item 0 first; a saved name that matches nothing leaves it selected.
    const int source = findPrefix(sources_, settings_.audioSource.utf8());
    view_.setSourceSelection(source >= 0 ? source : 0);

    compressors_.clear();
    findDevice(platform_, &compressors_, CLSID_AudioCompressorCategory, listFriendlyName);
    sortListItems(compressors_);
    view_.setCompressorItems(compressors_);
    const int compressor = findPrefix(compressors_, settings_.audioCompressor.utf8());
    view_.setCompressorSelection(compressor >= 0 ? compressor : (compressors_.empty() ? -1 : 0));
    if (listen_)
        view_.showListen(*listen_);
}

void AudioSettingsDialogLogic::onOk() {
    settings_.audioCompressor.assign(chosenItem(compressors_, view_.compressorSelection()));
    settings_.audioSource.assign(chosenItem(sources_, view_.sourceSelection()));
    if (listen_)
        *listen_ = view_.listenChecked();
}

} // namespace tavrin::record

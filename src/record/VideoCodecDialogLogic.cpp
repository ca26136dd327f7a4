// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/VideoCodecDialogLogic.h"

#include "base/Diagnostics.h"
#include "record/DeviceEnum.h"
#include "record/ListText.h"
#include "record/Recorder.h"

#include <algorithm>
#include <cmath>

namespace tavrin::record {

VideoCodecDialogLogic::VideoCodecDialogLogic(VideoCodecDialogView& view, base::Settings& settings,
                                             MediaPlatform& platform)
    : view_(view), settings_(settings), platform_(platform) {}

VideoCodecDialogLogic::~VideoCodecDialogLogic() {
    closing();
}

void VideoCodecDialogLogic::onOpen() {
    // An odd frame rate in the settings becomes 30 here, whatever the dialog's end.
    const auto found = std::find(fpsChoices.begin(), fpsChoices.end(), settings_.recordFps);
    const int p = found == fpsChoices.end() ? 1 : static_cast<int>(found - fpsChoices.begin());
    settings_.recordFps = fpsChoices[p];
    view_.setFps(p, std::to_string(settings_.recordFps));

    view_.setScreens(settings_.recordScreens <= 2 ? settings_.recordScreens : 0);

    items_.clear();
    findDevice(platform_, &items_, CLSID_VideoCompressorCategory, listFriendlyName);
    sortListItems(items_);
    view_.setCodecItems(items_);
    view_.setCodecSelection(findPrefix(items_, settings_.videoCodec.utf8()));
    onCodecSelected();
}

void VideoCodecDialogLogic::onCodecSelected() {
    dialogCodecDialogs_ = nullptr;
    dialogCodec_.reset();
    const std::string name = chosenItem(items_, view_.codecSelection());
    dialogCodec_ = findVideoCompressor(platform_, settings_, name);
    bool configurable = false;
    bool hasAbout = false;
    bool hasQuality = false;
    double quality = 1.0;
    if (dialogCodec_) {
        dialogCodecDialogs_ = dynamic_cast<IAMVfwCompressDialogs*>(dialogCodec_.get());
        if (dialogCodecDialogs_) {
            configurable = dialogCodecDialogs_->ShowDialog(VfwCompressDialog_QueryConfig, nullptr) == S_OK;
            hasAbout = dialogCodecDialogs_->ShowDialog(VfwCompressDialog_QueryAbout, nullptr) == S_OK;
        }
        double defaultQuality = 0;
        int32_t caps = 0;
        auto* compression = dynamic_cast<IAMVideoCompression*>(dialogCodec_.get());
        if (compression && SUCCEEDED(compression->GetInfo(&defaultQuality, &caps)) &&
            (caps & CompressionCaps_CanQuality)) {
            hasQuality = true;
            if (FAILED(compression->get_Quality(&quality)) || quality < 0)
                quality = defaultQuality;
        }
    }
    view_.enableConfigure(configurable);
    view_.enableAbout(hasAbout);
    // Rounded, not truncated: 0.29 is 28.999... in binary, and truncation would lower
    // the stored quality by one step at every OK.
    showQuality(hasQuality, static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100.0)));
}

void VideoCodecDialogLogic::showQuality(bool enabled, int position) {
    view_.setQuality(position, enabled ? std::to_string(position) : std::string(), enabled);
}

void VideoCodecDialogLogic::onQualitySlider(int position) {
    showQuality(true, std::clamp(position, 0, 100));
}

void VideoCodecDialogLogic::onFpsSlider(int position) {
    const int p = std::clamp(position, 0, static_cast<int>(fpsChoices.size()) - 1);
    settings_.recordFps = fpsChoices[p];
    view_.setFps(p, std::to_string(settings_.recordFps));
}

void VideoCodecDialogLogic::onConfigure() {
    if (dialogCodecDialogs_)
        dialogCodecDialogs_->ShowDialog(VfwCompressDialog_Config, view_.window());
}

void VideoCodecDialogLogic::onAbout() {
    if (dialogCodecDialogs_)
        dialogCodecDialogs_->ShowDialog(VfwCompressDialog_About, view_.window());
}

void VideoCodecDialogLogic::onOk() {
    if (dialogCodec_) {
        settings_.videoCodec.assign(chosenItem(items_, view_.codecSelection()));
        settings_.videoQuality = view_.qualityPosition() / 100.0;
        settings_.videoCodecSettings.clear();
        settings_.videoCodecSettings.shrink_to_fit();
        if (dialogCodecDialogs_) {
            int32_t size = 0;
            dialogCodecDialogs_->GetState(nullptr, &size);
            std::vector<uint8_t> blob(static_cast<std::size_t>(std::max(size, 0)));
            if (FAILED(dialogCodecDialogs_->GetState(blob.data(), &size)) || size < 0 ||
                static_cast<std::size_t>(size) > blob.size()) {
                base::recordLog.warning("pCompressDialogs::GetState failed\n");
            } else {
                blob.resize(static_cast<std::size_t>(size));
                base::recordLog.debug("GetState(%d)=%08X..\n", size, firstFourBytes(blob));
                settings_.videoCodecSettings = std::move(blob);
            }
        }
    }
    settings_.recordScreens = view_.topChecked() ? 1 : view_.bottomChecked() ? 2 : 0;
    closing();
}

void VideoCodecDialogLogic::onCancel() {
    closing();
}

void VideoCodecDialogLogic::closing() {
    dialogCodecDialogs_ = nullptr;
    dialogCodec_.reset();
}

} // namespace tavrin::record

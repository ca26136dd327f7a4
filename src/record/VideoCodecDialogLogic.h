// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "record/BaseFilter.h"
#include "record/MediaInterfaces.h"
#include "record/MediaPlatform.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::record {

// The frame rates of the FPS slider, positions 0, 1, 2.
inline constexpr std::array<int32_t, 3> fpsChoices = {20, 30, 60};

// The Video Codec dialog's controls as its logic sees them.
class VideoCodecDialogView {
  public:
    virtual ~VideoCodecDialogView() = default;
    virtual void setCodecItems(const std::vector<std::string>& items) = 0;
    virtual void setCodecSelection(int index) = 0; // -1: nothing selected
    virtual int codecSelection() const = 0;
    virtual void setQuality(int position, const std::string& text, bool enabled) = 0;
    virtual int qualityPosition() const = 0;
    virtual void setFps(int position, const std::string& text) = 0;
    virtual void enableConfigure(bool enabled) = 0;
    virtual void enableAbout(bool enabled) = 0;
    // 0 both, 1 top, 2 bottom.
    virtual void setScreens(uint32_t screens) = 0;
    virtual bool topChecked() const = 0;
    virtual bool bottomChecked() const = 0;
    // The dialog window, as owner of the compressor's own dialogs.
    virtual void* window() = 0;
};

// What the Video Codec dialog does, without the toolkit: fills the controls on
// opening, looks up the compressor on each selection, and writes the settings on OK
// (the frame rate already on opening and with its slider, as a cancelled dialog keeps it).
class VideoCodecDialogLogic {
  public:
    VideoCodecDialogLogic(VideoCodecDialogView& view, base::Settings& settings, MediaPlatform& platform);
    ~VideoCodecDialogLogic();

    void onOpen();
    void onCodecSelected();
    void onQualitySlider(int position);
    void onFpsSlider(int position);
    void onConfigure();
    void onAbout();
    // OK: takes the settings; the caller then ends the dialog with OK.
    void onOk();
    // Cancel or close: the caller then ends the dialog with Cancel.
    void onCancel();

    BaseFilter* dialogCodec() const { return dialogCodec_.get(); }

  private:
    void showQuality(bool enabled, int position);
    void closing();

    VideoCodecDialogView& view_;
    base::Settings& settings_;
    MediaPlatform& platform_;
    std::vector<std::string> items_;
    std::shared_ptr<BaseFilter> dialogCodec_;
    IAMVfwCompressDialogs* dialogCodecDialogs_ = nullptr;
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "record/MediaPlatform.h"
#include "record/VideoCodecDialogLogic.h"

#include <QDialog>
#include <memory>

namespace Ui {
class VideoCodecDialog;
}

namespace tavrin::qt_record {

// The Video Codec dialog (resource 9): compressor, quality, frame rate, screens.
class VideoCodecDialog : public QDialog, public record::VideoCodecDialogView {
    Q_OBJECT
  public:
    VideoCodecDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform);
    ~VideoCodecDialog() override;

    void setCodecItems(const std::vector<std::string>& items) override;
    void setCodecSelection(int index) override;
    int codecSelection() const override;
    void setQuality(int position, const std::string& text, bool enabled) override;
    int qualityPosition() const override;
    void setFps(int position, const std::string& text) override;
    void enableConfigure(bool enabled) override;
    void enableAbout(bool enabled) override;
    void setScreens(uint32_t screens) override;
    bool topChecked() const override;
    bool bottomChecked() const override;
    void* window() override { return this; }

    Ui::VideoCodecDialog& ui() { return *ui_; }
    record::VideoCodecDialogLogic& logic() { return logic_; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    std::unique_ptr<Ui::VideoCodecDialog> ui_;
    record::VideoCodecDialogLogic logic_;
};

// Shows the dialog modally; true when it was closed with OK.
bool showVideoCodecDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform);

} // namespace tavrin::qt_record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "record/AudioSettingsDialogLogic.h"
#include "record/MediaPlatform.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class AudioSettingsDialog;
}

class QCheckBox;
class QLabel;

namespace tavrin::qt_record {

// The Audio Settings dialog (resource 103): the sound input, the (fixed) compressor
// and a button to the desktop's sound settings.
class AudioSettingsDialog : public QDialog, public record::AudioSettingsDialogView {
    Q_OBJECT
  public:
    AudioSettingsDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform,
                        std::function<void(const std::string&)> status = {}, bool* listen = nullptr);
    ~AudioSettingsDialog() override;

    void setSourceItems(const std::vector<std::string>& items) override;
    void setSourceSelection(int index) override;
    int sourceSelection() const override;
    void setCompressorItems(const std::vector<std::string>& items) override;
    void setCompressorSelection(int index) override;
    int compressorSelection() const override;
    void showSoundProblem(const std::string& text) override;
    void showListen(bool checked) override;
    bool listenChecked() const override;

    Ui::AudioSettingsDialog& ui() { return *ui_; }
    // What Control Panel runs; replaceable for tests.
    std::function<void()> controlPanel;

  public slots:
    void accept() override;

  private:
    std::unique_ptr<Ui::AudioSettingsDialog> ui_;
    QLabel* problem_ = nullptr;   // owned by the dialog
    QCheckBox* listen_ = nullptr; // owned by the dialog; only where the build can listen
    record::AudioSettingsDialogLogic logic_;
};

// Shows the dialog modally: 1 for OK, 0 for Cancel. `status` receives messages for
// the control window's status line (Control Panel with no sound settings program).
// `listen`: the "Listen" switch, shown and set on OK; null: no such switch in this build.
int runAudioSettingsDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform,
                           std::function<void(const std::string&)> status = {}, bool* listen = nullptr);

} // namespace tavrin::qt_record

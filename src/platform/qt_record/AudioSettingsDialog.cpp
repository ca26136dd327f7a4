// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/AudioSettingsDialog.h"

#include "platform/qt_record/DialogTextFit.h"
#include "platform/qt_record/SoundControlPanel.h"
#include "ui_AudioSettingsDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <algorithm>

namespace tavrin::qt_record {

AudioSettingsDialog::AudioSettingsDialog(QWidget* owner, base::Settings& settings,
                                         record::MediaPlatform& platform,
                                         std::function<void(const std::string&)> status, bool* listen)
    : QDialog(owner), ui_(std::make_unique<Ui::AudioSettingsDialog>()),
      logic_(*this, settings, platform, listen) {
    ui_->setupUi(this);
    fitTexts(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    controlPanel = [this, status] { openSoundControlPanel(this, status); };
    connect(ui_->IDOK, &QPushButton::clicked, this, &AudioSettingsDialog::accept);
    connect(ui_->IDCANCEL, &QPushButton::clicked, this, &AudioSettingsDialog::reject);
    connect(ui_->IDC_CONTROL_PANEL, &QPushButton::clicked, this, [this] {
        if (controlPanel)
            controlPanel();
    });
    logic_.onOpen();
}

AudioSettingsDialog::~AudioSettingsDialog() = default;

void AudioSettingsDialog::accept() {
    logic_.onOk();
    QDialog::accept();
}

void AudioSettingsDialog::setSourceItems(const std::vector<std::string>& items) {
    QSignalBlocker block(ui_->IDC_AUDIO_SOURCE);
    ui_->IDC_AUDIO_SOURCE->clear();
    for (const auto& item : items)
        ui_->IDC_AUDIO_SOURCE->addItem(QString::fromStdString(item));
}

void AudioSettingsDialog::setSourceSelection(int index) {
    ui_->IDC_AUDIO_SOURCE->setCurrentIndex(index);
}

int AudioSettingsDialog::sourceSelection() const {
    return ui_->IDC_AUDIO_SOURCE->currentIndex();
}

void AudioSettingsDialog::setCompressorItems(const std::vector<std::string>& items) {
    QSignalBlocker block(ui_->IDC_AUDIO_COMPRESSOR);
    ui_->IDC_AUDIO_COMPRESSOR->clear();
    for (const auto& item : items)
        ui_->IDC_AUDIO_COMPRESSOR->addItem(QString::fromStdString(item));
}

void AudioSettingsDialog::showSoundProblem(const std::string& text) {
    // Beside the Control Panel button, where the dialog has room for a short note.
    if (!problem_) {
        problem_ = new QLabel(this);
        problem_->setWordWrap(true);
        const QRect panel = ui_->IDC_CONTROL_PANEL->geometry();
        const QRect list = ui_->IDC_AUDIO_SOURCE->geometry();
        problem_->setGeometry(panel.right() + 8, panel.top() - 6, list.right() - panel.right() - 8,
                              panel.height() + 12);
        QFont small = problem_->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        problem_->setFont(small);
    }
    problem_->setText(QString::fromStdString(text));
    problem_->setToolTip(problem_->text());
    problem_->setVisible(!text.empty());
    ui_->IDC_AUDIO_SOURCE->setToolTip(QString::fromStdString(text));
}

void AudioSettingsDialog::showListen(bool checked) {
    if (!listen_) {
        // Below the buttons, as wide as the lists; the dialog grows by its height.
        listen_ = new QCheckBox(tr("&Listen"), this);
        listen_->setObjectName("IDC_LISTEN");
        listen_->setToolTip(tr("Play this input through the speakers while you play"));
        const QRect panel = ui_->IDC_CONTROL_PANEL->geometry();
        const QRect list = ui_->IDC_AUDIO_SOURCE->geometry();
        const int height = std::max(listen_->sizeHint().height(), 17);
        listen_->setGeometry(list.left(), panel.bottom() + 7, list.width(), height);
        setFixedSize(width(), panel.bottom() + 7 + height + 11);
        setTabOrder(ui_->IDC_AUDIO_COMPRESSOR, listen_);
    }
    listen_->setChecked(checked);
    listen_->show();
}

bool AudioSettingsDialog::listenChecked() const {
    return listen_ && listen_->isChecked();
}

void AudioSettingsDialog::setCompressorSelection(int index) {
    ui_->IDC_AUDIO_COMPRESSOR->setCurrentIndex(index);
}

int AudioSettingsDialog::compressorSelection() const {
    return ui_->IDC_AUDIO_COMPRESSOR->currentIndex();
}

int runAudioSettingsDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform,
                           std::function<void(const std::string&)> status, bool* listen) {
    AudioSettingsDialog dialog(owner, settings, platform, std::move(status), listen);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

} // namespace tavrin::qt_record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/VideoCodecDialog.h"

#include "platform/qt_record/DialogTextFit.h"
#include "ui_VideoCodecDialog.h"

#include <QSignalBlocker>

namespace tavrin::qt_record {

VideoCodecDialog::VideoCodecDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform)
    : QDialog(owner), ui_(std::make_unique<Ui::VideoCodecDialog>()), logic_(*this, settings, platform) {
    ui_->setupUi(this);
    fitTexts(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // The user's choice in the list, the sliders' moves and the buttons; settings
    // made by the logic itself are not echoed back.
    connect(ui_->IDC_CODEC_LIST, &QComboBox::activated, this, [this] { logic_.onCodecSelected(); });
    connect(ui_->IDC_QUALITY, &QSlider::valueChanged, this, [this](int p) { logic_.onQualitySlider(p); });
    connect(ui_->IDC_FPS, &QSlider::valueChanged, this, [this](int p) { logic_.onFpsSlider(p); });
    connect(ui_->IDC_CONFIGURE, &QPushButton::clicked, this, [this] { logic_.onConfigure(); });
    connect(ui_->IDC_ABOUT, &QPushButton::clicked, this, [this] { logic_.onAbout(); });
    connect(ui_->IDOK, &QPushButton::clicked, this, &VideoCodecDialog::accept);
    connect(ui_->IDCANCEL, &QPushButton::clicked, this, &VideoCodecDialog::reject);
    logic_.onOpen();
}

VideoCodecDialog::~VideoCodecDialog() = default;

void VideoCodecDialog::accept() {
    logic_.onOk();
    QDialog::accept();
}

void VideoCodecDialog::reject() {
    logic_.onCancel();
    QDialog::reject();
}

void VideoCodecDialog::setCodecItems(const std::vector<std::string>& items) {
    QSignalBlocker block(ui_->IDC_CODEC_LIST);
    ui_->IDC_CODEC_LIST->clear();
    for (const auto& item : items)
        ui_->IDC_CODEC_LIST->addItem(QString::fromStdString(item));
}

void VideoCodecDialog::setCodecSelection(int index) {
    QSignalBlocker block(ui_->IDC_CODEC_LIST);
    ui_->IDC_CODEC_LIST->setCurrentIndex(index);
}

int VideoCodecDialog::codecSelection() const {
    return ui_->IDC_CODEC_LIST->currentIndex();
}

void VideoCodecDialog::setQuality(int position, const std::string& text, bool enabled) {
    {
        QSignalBlocker block(ui_->IDC_QUALITY);
        ui_->IDC_QUALITY->setValue(position);
    }
    ui_->IDC_QUALITY_VALUE->setText(QString::fromStdString(text));
    ui_->IDC_QUALITY->setEnabled(enabled);
    ui_->IDC_QUALITY_VALUE->setEnabled(enabled);
    ui_->IDC_QUALITY_LABEL->setEnabled(enabled);
}

int VideoCodecDialog::qualityPosition() const {
    return ui_->IDC_QUALITY->value();
}

void VideoCodecDialog::setFps(int position, const std::string& text) {
    {
        QSignalBlocker block(ui_->IDC_FPS);
        ui_->IDC_FPS->setValue(position);
    }
    ui_->IDC_FPS_VALUE->setText(QString::fromStdString(text));
}

void VideoCodecDialog::enableConfigure(bool enabled) {
    ui_->IDC_CONFIGURE->setEnabled(enabled);
}

void VideoCodecDialog::enableAbout(bool enabled) {
    ui_->IDC_ABOUT->setEnabled(enabled);
}

void VideoCodecDialog::setScreens(uint32_t screens) {
    QRadioButton* buttons[] = {ui_->IDC_BOTH_SCREENS, ui_->IDC_TOP_SCREEN, ui_->IDC_BOTTOM_SCREEN};
    buttons[screens <= 2 ? screens : 0]->setChecked(true);
}

bool VideoCodecDialog::topChecked() const {
    return ui_->IDC_TOP_SCREEN->isChecked();
}

bool VideoCodecDialog::bottomChecked() const {
    return ui_->IDC_BOTTOM_SCREEN->isChecked();
}

bool showVideoCodecDialog(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform) {
    VideoCodecDialog dialog(owner, settings, platform);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace tavrin::qt_record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ControlWindowView.h"
#include "device/DeviceArrival.h"
#include "platform/qt/QtMessageTarget.h"

#include <QIcon>
#include <QTimer>
#include <QWidget>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;

namespace Ui {
class ControlWindow;
}

namespace tavrin::app {
class ControlWindowLogic;
}

namespace tavrin::qt {

class RecordButton;

// An icon drawn from an SVG file at the sizes screens ask for.
QIcon svgIcon(const QString& path);

// The control window: the widgets of its layout file and nothing else. Clicks,
// list picks, timer ticks and posted messages go to ControlWindowLogic.
class ControlWindow : public QWidget, public app::ControlWindowView {
    Q_OBJECT
  public:
    explicit ControlWindow(QWidget* parent = nullptr);
    ~ControlWindow() override;

    // Routes the window's events to `logic` from now on. Call once, before show().
    void attach(app::ControlWindowLogic& logic);
    // Where other threads post the program's messages for this window.
    QtMessageTarget& messageTarget() { return target_; }

    // --- app::ControlWindowView ---
    void setStatusText(const std::string& text) override;
    void setRecordIcon(app::RecordIcon icon) override;
    void setRecordChecked(bool checked) override;
    void setSettingsControlsEnabled(bool enabled) override;
    void addDisplayModeItem(const std::string& text) override;
    void selectDisplayModeItem(int index) override;
    void startBlinkTimer(std::chrono::milliseconds period) override;
    void stopBlinkTimer() override;
    void focusStatusLine() override;
    void destroyWindow() override;
    void postQuit(int exitCode) override;
    void retryLater(std::function<void()> retry, std::chrono::milliseconds delay) override;

    // From any thread: hands an arrival to the logic on the window's thread.
    void postDeviceArrival(const device::DeviceArrival& arrival);

    // The widgets, for tests.
    RecordButton* recordButton() const;
    QPushButton* screenshotButton() const;
    QPushButton* outputFolderButton() const;
    QPushButton* videoSettingsButton() const;
    QPushButton* audioSettingsButton() const;
    QComboBox* displayModeList() const;
    QLabel* statusLine() const;
    QAction* debugConsoleAction() const { return debugConsoleAction_; }
    bool blinkTimerActive() const { return blinkTimer_.isActive(); }
    int blinkTimerInterval() const { return blinkTimer_.interval(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void fitToFont();

    std::unique_ptr<Ui::ControlWindow> ui_;
    app::ControlWindowLogic* logic_ = nullptr;
    QtMessageTarget target_;
    QTimer blinkTimer_;
    QIcon iconRecordIdle_;
    QIcon iconRecordActive_;
    QIcon iconScreenshot_;
    QAction* debugConsoleAction_ = nullptr;
};

} // namespace tavrin::qt

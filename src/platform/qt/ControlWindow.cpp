// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/ControlWindow.h"

#include "app/ControlWindowLogic.h"
#include "base/Messages.h"
#include "platform/qt/RecordButton.h"
#include "ui_ControlWindow.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QThread>
#include <QTimer>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace tavrin::qt {

QIcon svgIcon(const QString& path) {
    // Drawn at every size a screen may ask for, so that it stays sharp at any scale.
    QSvgRenderer renderer(path);
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int s : {16, 24, 32, 48, 64, 96, 128, 256}) {
        QPixmap pixmap(s, s);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

ControlWindow::ControlWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::ControlWindow>()) {
    initAppResources();
    ui_->setupUi(this);
    // A dialog frame: no resizing, no maximizing; the size is what the texts need at
    // the font in use (at least the dialog's own), and follows a change of font.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    fitToFont();

    // Every window of the program carries its icon (display windows, dialogs, console).
    const QIcon appIcon = svgIcon(QStringLiteral(":/icons/tavrin-capture.svg"));
    setWindowIcon(appIcon);
    QGuiApplication::setWindowIcon(appIcon);
    iconRecordIdle_ = svgIcon(QStringLiteral(":/icons/record-idle.svg"));
    iconRecordActive_ = svgIcon(QStringLiteral(":/icons/record-active.svg"));
    iconScreenshot_ = svgIcon(QStringLiteral(":/icons/screenshot.svg"));
    ui_->IDC_RECORD->setIcon(iconRecordIdle_);
    ui_->IDC_SCREENSHOT->setIcon(iconScreenshot_);

    // Window managers keep their title-bar menu to themselves, so the console item
    // lives in the window's own context menu, with the same key as in the display windows.
    debugConsoleAction_ = new QAction(tr("&Debug console"), this);
    debugConsoleAction_->setShortcut(QKeySequence(Qt::Key_F12));
    debugConsoleAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(debugConsoleAction_);

    blinkTimer_.setTimerType(Qt::PreciseTimer);

    // Centred on the screen, as the dialog was.
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

ControlWindow::~ControlWindow() = default;

void ControlWindow::fitToFont() {
    // The style gives text buttons a width of its own liking; "..." needs far less
    // than that, and the status line needs three lines of whatever the font is.
    QPushButton* folder = ui_->IDC_OUTPUT_FOLDER;
    const int dots = folder->fontMetrics().horizontalAdvance(folder->text()) + 12;
    folder->setFixedWidth(std::max(27, dots));
    QLabel* status = ui_->IDC_STATUS;
    const int frame = 2 * (status->frameWidth() + status->margin());
    status->setMinimumHeight(std::max(57, 3 * status->fontMetrics().lineSpacing() + frame));
}

void ControlWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitToFont();
}

void ControlWindow::attach(app::ControlWindowLogic& logic) {
    logic_ = &logic;
    target_.setHandler([&logic](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        logic.handleMessage(message, wParam, lParam);
    });
    target_.setFrameHandler([&logic](device::FrameRef frame) { logic.handleFrame(std::move(frame)); });
    const auto commandOn = [this, &logic](QPushButton* button, int id) {
        connect(button, &QPushButton::clicked, this, [&logic, id] { logic.command(id); });
    };
    commandOn(ui_->IDC_RECORD, app::IDC_RECORD);
    commandOn(ui_->IDC_SCREENSHOT, app::IDC_SCREENSHOT);
    commandOn(ui_->IDC_OUTPUT_FOLDER, app::IDC_OUTPUT_FOLDER);
    commandOn(ui_->IDC_VIDEO_SETTINGS, app::IDC_VIDEO_SETTINGS);
    commandOn(ui_->IDC_AUDIO_SETTINGS, app::IDC_AUDIO_SETTINGS);
    // `activated` is the user's pick only (also of the item already selected);
    // selections made by the program do not come back here.
    connect(ui_->IDC_DISPLAY_MODE, &QComboBox::activated, this,
            [&logic](int index) { logic.displayModeSelected(index); });
    connect(&blinkTimer_, &QTimer::timeout, this, [&logic] { logic.blinkTimer(); });
    connect(debugConsoleAction_, &QAction::triggered, this,
            [&logic] { logic.handleMessage(base::WM_SYSCOMMAND, base::kDebugConsoleCommand, 0); });
}

void ControlWindow::setStatusText(const std::string& text) {
    const QString qtext = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        ui_->IDC_STATUS->setText(qtext);
        return;
    }
    // From a worker: hand it to the window's thread (dropped if the window is gone by then).
    QMetaObject::invokeMethod(
        this, [this, qtext] { ui_->IDC_STATUS->setText(qtext); }, Qt::QueuedConnection);
}

void ControlWindow::setRecordIcon(app::RecordIcon icon) {
    ui_->IDC_RECORD->setIcon(icon == app::RecordIcon::Active ? iconRecordActive_ : iconRecordIdle_);
}

void ControlWindow::setRecordChecked(bool checked) {
    ui_->IDC_RECORD->setChecked(checked);
}

void ControlWindow::setSettingsControlsEnabled(bool enabled) {
    ui_->IDC_VIDEO_SETTINGS->setEnabled(enabled);
    ui_->IDC_AUDIO_SETTINGS->setEnabled(enabled);
    ui_->IDC_DISPLAY_MODE->setEnabled(enabled);
}

void ControlWindow::addDisplayModeItem(const std::string& text) {
    ui_->IDC_DISPLAY_MODE->addItem(QString::fromStdString(text));
}

void ControlWindow::selectDisplayModeItem(int index) {
    ui_->IDC_DISPLAY_MODE->setCurrentIndex(index);
}

void ControlWindow::startBlinkTimer(std::chrono::milliseconds period) {
    blinkTimer_.start(period);
}

void ControlWindow::stopBlinkTimer() {
    blinkTimer_.stop();
}

void ControlWindow::focusStatusLine() {
    QTimer::singleShot(0, this, [this] { ui_->IDC_STATUS->setFocus(Qt::OtherFocusReason); });
}

void ControlWindow::destroyWindow() {
    blinkTimer_.stop();
    hide();
}

void ControlWindow::postQuit(int exitCode) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

void ControlWindow::retryLater(std::function<void()> retry, std::chrono::milliseconds delay) {
    QTimer::singleShot(delay, this, std::move(retry));
}

void ControlWindow::postDeviceArrival(const device::DeviceArrival& arrival) {
    // Dropped with the window if it is gone before the call comes round.
    QMetaObject::invokeMethod(
        this,
        [this, arrival] {
            if (logic_)
                logic_->deviceArrived(arrival);
        },
        Qt::QueuedConnection);
}

void ControlWindow::closeEvent(QCloseEvent* event) {
    // The window is not closed by the toolkit: WM_CLOSE ends the recording, the
    // display windows and then the window itself, in that order.
    event->ignore();
    if (logic_)
        logic_->handleMessage(base::WM_CLOSE, 0, 0);
}

void ControlWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(debugConsoleAction_);
    menu.exec(event->globalPos());
}

RecordButton* ControlWindow::recordButton() const {
    return ui_->IDC_RECORD;
}
QPushButton* ControlWindow::screenshotButton() const {
    return ui_->IDC_SCREENSHOT;
}
QPushButton* ControlWindow::outputFolderButton() const {
    return ui_->IDC_OUTPUT_FOLDER;
}
QPushButton* ControlWindow::videoSettingsButton() const {
    return ui_->IDC_VIDEO_SETTINGS;
}
QPushButton* ControlWindow::audioSettingsButton() const {
    return ui_->IDC_AUDIO_SETTINGS;
}
QComboBox* ControlWindow::displayModeList() const {
    return ui_->IDC_DISPLAY_MODE;
}
QLabel* ControlWindow::statusLine() const {
    return ui_->IDC_STATUS;
}

} // namespace tavrin::qt

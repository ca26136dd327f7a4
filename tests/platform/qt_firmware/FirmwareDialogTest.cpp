// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_firmware/FirmwareDialog.h"

#include "app/CaptureApp.h"
#include "device/FirmwareImage.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

using namespace tavrin;
using namespace std::chrono_literals;
using qt_firmware::FirmwareDialog;

namespace {

// Polls on the GUI thread until `condition` holds, then runs `action` once; after
// 20 s the test fails and the modal window is closed, so that it does not hang. A
// timer, not eventually(): each look must return to whichever modal loop runs.
void when(std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    QObject::connect(timer, &QTimer::timeout, [timer, condition, action, giveUp] {
        const bool held = condition();
        if (!held && std::chrono::steady_clock::now() < giveUp)
            return;
        timer->stop();
        timer->deleteLater();
        if (held) {
            action();
            return;
        }
        QTest::qFail("what the test waited for did not come within 20 s", __FILE__, __LINE__);
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    timer->start();
}

QPushButton* button(QDialog& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(name);
}

struct Rig {
    Rig() {
        sim::SimulatedBoard::Options o;
        o.framesPerSecond = 0;
        o.version = 1;
        o.reconnectDelay = 0ms;
        o.pageWriteTime = 1ms;
        board = std::make_unique<sim::SimulatedBoard>(o);
        app = std::make_unique<app::CaptureApp>(*board, keys);
        app->capture.boardDevice.setFirmwareImage(testing::kFakeContainer, &inflater);
        std::lock_guard lk(app->capture.appLock);
        app->capture.currentDevice = app->capture.boardDevice.open(nullptr)
                                         ? static_cast<device::UsbDevice*>(&app->capture.boardDevice)
                                         : &app->capture.nullDevice;
    }
    testing::DiagnosticCapture quiet;
    device::NoModifierKeys keys;
    testing::FakeInflater inflater{testing::makeFirmwareTestImage()};
    std::unique_ptr<sim::SimulatedBoard> board;
    std::unique_ptr<app::CaptureApp> app;
};

} // namespace

class FirmwareDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void looksLikeDialog111() {
        Rig rig;
        QWidget owner;
        FirmwareDialog dialog(*rig.app, &owner);
        QCOMPARE(dialog.parentWidget(), &owner);
        QCOMPARE(dialog.windowTitle(), QString("Firmware Update"));
        QCOMPARE(dialog.size(), QSize(416, 89));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        auto* label = dialog.findChild<QLabel*>("messageLabel");
        QVERIFY(label);
        QCOMPARE(
            label->text(),
            QString("Device firmware needs to be updated.\n!! Do not disconnect while update is running !!"));
        auto* bar = dialog.findChild<QProgressBar*>("progressBar");
        QVERIFY(bar);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 1000);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->geometry(), QRect(11, 55, 228, 23));
        QCOMPARE(button(dialog, "startButton")->text(), QString("Start"));
        QCOMPARE(button(dialog, "startButton")->geometry(), QRect(248, 55, 75, 23));
        QCOMPARE(button(dialog, "cancelButton")->text(), QString("Cancel"));
        QCOMPARE(button(dialog, "cancelButton")->geometry(), QRect(330, 55, 75, 23));
        QVERIFY(button(dialog, "cancelButton")->isDefault());
        QCOMPARE(button(dialog, "startButton")->nextInFocusChain(), button(dialog, "cancelButton"));
    }

    void cancelBeforeStartEndsWithZero() {
        Rig rig;
        QWidget owner;
        owner.show();
        when([] { return qobject_cast<FirmwareDialog*>(QApplication::activeModalWidget()) != nullptr; },
             [] {
                 button(*qobject_cast<QDialog*>(QApplication::activeModalWidget()), "cancelButton")->click();
             });
        QCOMPARE(qt_firmware::firmwareDialog(*rig.app, &owner), 0);
        QVERIFY(rig.board->pageWrites().empty());
    }

    void startUpdatesTheBoardAndEndsWithOne() {
        Rig rig;
        FirmwareDialog dialog(*rig.app, nullptr);
        bool escapeIgnored = false;
        QTimer::singleShot(0, [&] {
            button(dialog, "startButton")->click();
            QVERIFY(!button(dialog, "startButton")->isEnabled());
            QVERIFY(!button(dialog, "cancelButton")->isEnabled());
            // Escape (Cancel) while the worker runs does not end the dialog.
            QTest::keyClick(&dialog, Qt::Key_Escape);
            escapeIgnored = dialog.isVisible();
        });
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(escapeIgnored);
        QCOMPARE(dialog.progress(), 1000);
        QCOMPARE(rig.board->pageWrites().size(), std::size_t{145});
        QCOMPARE(rig.app->capture.boardDevice.state(), device::DEVICE_CLOSED);
    }

    void failureShowsTheBoxThenRetrySucceeds() {
        Rig rig;
        rig.board->refuseReadBacks(-1);
        FirmwareDialog dialog(*rig.app, nullptr);
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool buttonsOffUnderTheBox = false;
        QTimer::singleShot(0, [&] { button(dialog, "startButton")->click(); });
        when([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
             [&] {
                 auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                 caption = box->windowTitle();
                 text = box->text();
                 icon = box->icon();
                 buttonsOffUnderTheBox = !button(dialog, "startButton")->isEnabled();
                 box->button(QMessageBox::Ok)->click();
                 QTimer::singleShot(0, [&] {
                     QCOMPARE(button(dialog, "startButton")->text(), QString("Retry"));
                     QVERIFY(button(dialog, "startButton")->isEnabled());
                     QVERIFY(button(dialog, "cancelButton")->isEnabled());
                     QCOMPARE(dialog.progress(), 0);
                     rig.board->refuseReadBacks(0);
                     button(dialog, "startButton")->click();
                 });
             });
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(caption, QString("Error (116)"));
        QCOMPARE(text, QString("Failed!"));
        QCOMPARE(icon, QMessageBox::Critical);
        QVERIFY(buttonsOffUnderTheBox);
    }

    void progressNeverWaitsForAWindowThatWaitsForTheLock() {
        Rig rig;
        FirmwareDialog dialog(*rig.app, nullptr);
        bool lockedUntilTheEnd = false;
        bool gotLock = false;
        QTimer::singleShot(0, [&] { button(dialog, "startButton")->click(); });
        when([&] { return dialog.progress() > 0; },
             [&] {
                 // Like a device arrival handled now: the window's thread waits for the
                 // lock the worker holds. A worker that waited for the window in turn
                 // would never finish.
                 if (!tavrin::testing::eventually([&] { return rig.app->capture.appLock.try_lock(); }, 20s))
                     return;
                 gotLock = true;
                 lockedUntilTheEnd = rig.app->capture.boardDevice.state() == device::DEVICE_CLOSED;
                 rig.app->capture.appLock.unlock();
             });
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(gotLock);
        QVERIFY(lockedUntilTheEnd);
        QCOMPARE(dialog.progress(), 1000);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FirmwareDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FirmwareDialogTest.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/CaptureApp.h"
#include "app/ConsoleToggle.h"
#include "app/ControlWindowLogic.h"
#include "base/Diagnostics.h"
#include "base/Messages.h"
#include "device/FrameQueue.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeControlWindowParts.h"
#include "fakes/TempDir.h"
#include "platform/qt/ConsoleWindow.h"
#include "platform/qt/ControlWindow.h"
#include "platform/qt/PostedFrameEvent.h"
#include "platform/qt/PostedMessageEvent.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/qt/QtUpdatePrompt.h"
#include "platform/qt/RecordButton.h"
#include "platform/sim/SimulatedBoard.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace tavrin;
using namespace tavrin::testing::controlwindow;

namespace {

// The control window with fakes behind its logic.
struct Harness {
    explicit Harness(int32_t displayMode = 6, bool split = false) {
        app.capture.currentDevice = &app.capture.nullDevice;
        app.settings.displayMode = displayMode;
        app.settings.splitWindows = split;
        app::ControlWindowLogic::Services s{window, displays, recorder, &screenshots};
        s.toggleDebugConsole = [this] { console.toggle(); };
        logic = std::make_unique<app::ControlWindowLogic>(app, std::move(s));
        window.attach(*logic);
        logic->initialise(window.messageTarget());
        log.clear();
    }

    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    app::CaptureApp app{board, keys};
    Log log;
    FakeDisplayManager displays{log, app.settings};
    FakeRecording recorder{log};
    FakeScreenshots screenshots{log};
    qt::ConsoleWindow consoleWindow;
    app::ConsoleToggle console{consoleWindow, app};
    qt::ControlWindow window;
    std::unique_ptr<app::ControlWindowLogic> logic;
};

QString plain(const QPlainTextEdit& edit) {
    return edit.toPlainText();
}

} // namespace

class ControlWindowQtTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        base::setDiagnosticsToStdout(false);
        // Recording names are probed in the current folder.
        std::filesystem::current_path(dir_.path());
    }

    // Messages posted on other threads arrive on the window's thread, in order,
    // with their numbers and parameters intact.
    void postedMessagesArriveOnTheGuiThreadInOrder() {
        qt::QtMessageTarget target;
        struct Seen {
            uint32_t message;
            uintptr_t wParam;
            intptr_t lParam;
            bool onGuiThread;
        };
        std::vector<Seen> seen;
        target.setHandler([&](uint32_t m, uintptr_t w, intptr_t l) {
            seen.push_back({m, w, l, QThread::currentThread() == qApp->thread()});
        });
        base::MessageLink link;
        link.set(&target);
        std::thread poster([&] {
            link.post(base::UM_FRAME, 0, 0x1234);
            link.post(base::UM_FOCUS_DISPLAY);
            link.post(base::UM_DEVICE, 1, 0);
            link.post(base::UM_TOPMOST);
        });
        poster.join();
        QVERIFY(seen.empty()); // nothing runs until the loop does
        QTRY_COMPARE(seen.size(), std::size_t(4));
        const uint32_t numbers[] = {1025, 1026, 1027, 1028};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(seen[i].message, numbers[i]);
            QVERIFY(seen[i].onGuiThread);
        }
        QCOMPARE(seen[0].lParam, intptr_t(0x1234));
        QCOMPARE(seen[2].wParam, uintptr_t(1));
    }

    // Frames travel with their reference, in order with the messages around them,
    // from fixed event slots; a frame nobody takes (no handler, the target gone
    // before its queue was handled, no target at all) goes back to the pool.
    void postedFramesArriveInOrderAndUntakenOnesGoBackToThePool() {
        device::FramePool pool;
        QVERIFY(pool.setup());
        const auto now = std::chrono::milliseconds(0);
        const std::size_t heapEventsBefore = qt::PostedFrameEvent::heapEvents();
        std::vector<std::string> seen;
        std::vector<device::FrameRef> taken;
        {
            qt::QtMessageTarget target;
            target.setHandler([&](uint32_t m, uintptr_t, intptr_t) { seen.push_back(std::to_string(m)); });
            target.setFrameHandler([&](device::FrameRef frame) {
                seen.push_back(QThread::currentThread() == qApp->thread() ? "frame" : "frame elsewhere");
                taken.push_back(std::move(frame));
            });
            device::FrameLink link;
            link.set(&target);
            std::thread poster([&] {
                link.postFrame(pool.take(now));
                link.post(base::UM_DEVICE, 1, 0);
                link.postFrame(pool.take(now));
            });
            poster.join();
            QTRY_COMPARE(seen.size(), std::size_t(3));
            QCOMPARE(seen, (std::vector<std::string>{"frame", "1027", "frame"}));
            QCOMPARE(pool.queue().count(), 10);
            taken.clear();

            // Every frame on its way at once, and the target gone before it handles any.
            for (int i = 0; i < device::FramePool::kFrameCount; ++i)
                QVERIFY(link.postFrame(pool.take(now)));
            QCOMPARE(pool.queue().count(), 0);
            link.set(nullptr);
            QVERIFY(!link.postFrame(pool.take(now)));
        }
        QCOMPARE(pool.queue().count(), 12);
        {
            qt::QtMessageTarget target; // no frame handler
            target.postFrame(pool.take(now));
            QCOMPARE(pool.queue().count(), 11);
            QCoreApplication::sendPostedEvents(&target);
            QCOMPARE(pool.queue().count(), 12);
        }
        QCOMPARE(qt::PostedFrameEvent::heapEvents(), heapEventsBefore);
    }

    // The window as laid out: title, size, controls, texts and tab order.
    void layoutMatchesTheDialog() {
        Harness h;
        qt::ControlWindow& w = h.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("Tavrin Capture"));
        // At least the dialog's geometry, more where the style's buttons need more
        // room for their texts at the default font.
        QVERIFY(w.width() >= 342 && w.height() >= 167);
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!w.windowIcon().isNull());
        QVERIFY(!QGuiApplication::windowIcon().isNull()); // for every other window too
        auto atLeast = [](const QWidget* c, const QRect& dialog) {
            const QRect g = c->geometry();
            return g.x() >= dialog.x() && g.y() >= dialog.y() && g.width() >= dialog.width() &&
                   g.height() >= dialog.height();
        };
        QCOMPARE(w.recordButton()->geometry(), QRect(11, 11, 49, 49));
        QCOMPARE(w.screenshotButton()->geometry(), QRect(69, 11, 51, 49));
        QCOMPARE(w.outputFolderButton()->geometry(), QRect(128, 37, 27, 23));
        QVERIFY(atLeast(w.displayModeList(), QRect(11, 70, 175, 24)));
        QVERIFY(atLeast(w.videoSettingsButton(), QRect(231, 11, 101, 23)));
        QVERIFY(atLeast(w.audioSettingsButton(), QRect(231, 39, 101, 23)));
        QCOMPARE(w.videoSettingsButton()->x() + w.videoSettingsButton()->width(), w.width() - 10);
        QVERIFY(atLeast(w.statusLine(), QRect(11, 101, 321, 57)));
        QCOMPARE(w.outputFolderButton()->text(), QStringLiteral("..."));
        QCOMPARE(w.videoSettingsButton()->text(), QStringLiteral("&Video settings"));
        QCOMPARE(w.audioSettingsButton()->text(), QStringLiteral("&Audio settings"));
        // The buttons without text have names for screen readers.
        QCOMPARE(w.recordButton()->accessibleName(), QStringLiteral("Record"));
        QCOMPARE(w.screenshotButton()->accessibleName(), QStringLiteral("Screenshot"));
        QCOMPARE(w.outputFolderButton()->accessibleName(), QStringLiteral("Output folder"));
        QCOMPARE(w.statusLine()->textFormat(), Qt::PlainText);
        QVERIFY(w.recordButton()->isCheckable());
        QCOMPARE(w.recordButton()->iconSize(), QSize(32, 32));
        QCOMPARE(w.displayModeList()->count(), 3);
        QCOMPARE(w.displayModeList()->itemText(2), QStringLiteral("Pellan"));
        QCOMPARE(w.displayModeList()->currentIndex(), 0);

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // After initialisation the focus rests on the status line, not on a button.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.statusLine()));
        // Tab walks the controls in the dialog's order and skips the status line.
        w.recordButton()->setFocus();
        const QWidget* expected[] = {w.screenshotButton(),    w.outputFolderButton(),  w.displayModeList(),
                                     w.videoSettingsButton(), w.audioSettingsButton(), w.recordButton()};
        for (const QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    // Larger fonts grow the window: every control keeps at least the size its text
    // needs and stays inside the window.
    void everyTextFitsAtLargerFonts() {
        const QFont original = QApplication::font();
        for (int points : {9, 11, 12, 14}) {
            QFont font = original;
            font.setPointSize(points);
            QApplication::setFont(font);
            Harness h;
            qt::ControlWindow& w = h.window;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            const QWidget* controls[] = {w.recordButton(), w.screenshotButton(), w.displayModeList()};
            for (const QWidget* c : controls) {
                const QString what = QStringLiteral("%1 at %2 pt").arg(c->objectName()).arg(points);
                QVERIFY2(c->width() >= c->sizeHint().width() && c->height() >= c->sizeHint().height(),
                         qPrintable(what));
                QVERIFY2(w.rect().contains(c->geometry()), qPrintable(what));
            }
            for (const QPushButton* b :
                 {w.outputFolderButton(), w.videoSettingsButton(), w.audioSettingsButton()}) {
                const int text = b->fontMetrics().horizontalAdvance(b->text().remove(QLatin1Char('&')));
                QVERIFY2(text + 6 <= b->width() && b->height() >= b->sizeHint().height(),
                         qPrintable(b->text()));
                QVERIFY(w.rect().contains(b->geometry()));
            }
            const QFontMetrics fm(w.statusLine()->font());
            QVERIFY(w.statusLine()->contentsRect().height() >= 3 * fm.height()); // three lines of status
            QVERIFY(w.rect().contains(w.statusLine()->geometry()));
        }
        QApplication::setFont(original);
    }

    void recordButtonDoesNotToggleItselfWhenTheStartFails() {
        Harness h;
        h.recorder.startSucceeds = false;
        h.window.show();
        QTest::mouseClick(h.window.recordButton(), Qt::LeftButton);
        QVERIFY(!h.window.recordButton()->isChecked());
        QCOMPARE(h.window.statusLine()->text(), QStringLiteral("Stopped."));
        QVERIFY(!h.window.blinkTimerActive());
    }

    void recordingDisablesTheSettingsAndBlinks() {
        Harness h;
        h.window.show();
        const qint64 idleIcon = h.window.recordButton()->icon().cacheKey();
        QTest::mouseClick(h.window.recordButton(), Qt::LeftButton);
        QVERIFY(h.app.recording);
        QVERIFY(h.window.recordButton()->isChecked());
        QVERIFY(h.window.recordButton()->icon().cacheKey() != idleIcon);
        QVERIFY(!h.window.videoSettingsButton()->isEnabled());
        QVERIFY(!h.window.audioSettingsButton()->isEnabled());
        QVERIFY(!h.window.displayModeList()->isEnabled());
        QVERIFY(h.window.screenshotButton()->isEnabled());
        QVERIFY(h.window.blinkTimerActive());
        QCOMPARE(h.window.blinkTimerInterval(), 350);
        // The timer drives the blinking and the status line.
        QTRY_VERIFY_WITH_TIMEOUT(h.recorder.statusUpdates >= 2, 3000);
        QVERIFY(h.window.statusLine()->text().startsWith(QStringLiteral("recording ")));

        QTest::mouseClick(h.window.recordButton(), Qt::LeftButton);
        QVERIFY(!h.app.recording);
        QVERIFY(!h.window.recordButton()->isChecked());
        QCOMPARE(h.window.recordButton()->icon().cacheKey(), idleIcon);
        QVERIFY(h.window.videoSettingsButton()->isEnabled());
        QVERIFY(h.window.displayModeList()->isEnabled());
        QVERIFY(!h.window.blinkTimerActive());
    }

    void pickingALayoutAppliesItButSelectingInCodeDoesNot() {
        Harness h;
        h.window.show();
        QComboBox* list = h.window.displayModeList();
        h.window.selectDisplayModeItem(1); // the program's own selection
        QVERIFY(h.log.empty());
        emit list->activated(2);
        QCOMPARE(h.log, Log{"applyDisplayMode:7,0"});
        emit list->activated(2); // the item in effect: nothing
        QCOMPARE(h.log.size(), std::size_t(1));
    }

    void closingTheWindowRunsTheCloseSequence() {
        Harness h(6, true);
        h.window.show();
        QTest::mouseClick(h.window.recordButton(), Qt::LeftButton);
        h.log.clear();
        h.window.close();
        // The recording ends before the display windows go, then the window itself.
        QCOMPARE(h.log, (Log{"stopRecording", "destroyDisplayWindows"}));
        QCOMPARE(h.window.statusLine()->text(), QStringLiteral("Stopped."));
        QVERIFY(!h.window.isVisible());
        QVERIFY(!h.window.blinkTimerActive());
        QVERIFY(h.logic->destroyed());
    }

    void statusTextFromAWorkerThreadReachesTheWindow() {
        Harness h;
        std::thread worker([&] { h.window.setStatusText("Saved /tmp/00000.png"); });
        worker.join();
        QTRY_COMPARE(h.window.statusLine()->text(), QStringLiteral("Saved /tmp/00000.png"));
    }

    void debugConsoleToggleShowsLinesWhileOpen() {
        Harness h;
        h.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.window));
        base::appLog.info("before the console\n");
        h.window.debugConsoleAction()->trigger();
        QVERIFY(h.app.consoleOpen);
        QVERIFY(h.consoleWindow.isVisible());
        QCOMPARE(h.consoleWindow.windowTitle(), QStringLiteral("Tavrin Capture - Debug"));

        // The statistics thread started with the console writes its line at once.
        QTRY_VERIFY(plain(h.consoleWindow).contains(QStringLiteral("Not connected\n")));
        std::thread writer([] { base::appLog.info("from a worker %d\n", 1); });
        writer.join();
        QTRY_VERIFY(plain(h.consoleWindow).contains(QStringLiteral("from a worker 1\n")));
        QVERIFY(!plain(h.consoleWindow).contains(QStringLiteral("before the console")));

        // Closed: lines go nowhere; reopened: a fresh console.
        h.window.debugConsoleAction()->trigger();
        QVERIFY(!h.app.consoleOpen);
        QVERIFY(!h.consoleWindow.isVisible());
        base::appLog.info("while closed\n");
        h.window.debugConsoleAction()->trigger();
        QVERIFY(h.app.consoleOpen);
        base::appLog.info("again\n");
        QTRY_VERIFY(plain(h.consoleWindow).contains(QStringLiteral("again\n")));
        QVERIFY(!plain(h.consoleWindow).contains(QStringLiteral("while closed")));
        QVERIFY(!plain(h.consoleWindow).contains(QStringLiteral("from a worker")));
        h.window.debugConsoleAction()->trigger();
    }

    void debugConsoleKeepsTheNewest500Lines() {
        qt::ConsoleWindow console;
        QVERIFY(console.createConsole());
        QVERIFY(!console.createConsole()); // one console at a time
        std::thread writer([] {
            for (int i = 0; i < 1200; ++i)
                base::appLog.info("line %d\n", i);
        });
        writer.join();
        QTRY_VERIFY(plain(console).endsWith(QStringLiteral("line 1199\n")));
        const QStringList lines = plain(console).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 500);
        QCOMPARE(lines.front(), QStringLiteral("line 700"));
        console.destroyConsole();
    }

    void closingTheConsoleWindowClosesOnlyTheConsole() {
        Harness h;
        h.consoleWindow.setClosedHandler([&] { h.console.consoleClosed(); });
        h.console.toggle();
        QVERIFY(h.app.consoleOpen);
        h.consoleWindow.close();
        QVERIFY(!h.app.consoleOpen);
        QVERIFY(!h.logic->destroyed());
        h.console.toggle(); // opens again
        QVERIFY(h.app.consoleOpen);
        h.console.toggle();
    }

    // The update question is asked on the window's thread, never on the check's,
    // and only an http(s) address is ever opened.
    void updatePromptAsksOnTheGuiThreadAndOpensOnlyWebAddresses() {
        QWidget owner;
        qt::QtUpdatePrompt prompt(&owner);
        QStringList asked;
        QList<QUrl> opened;
        bool answer = true;
        bool rightPlace = true;
        prompt.ask = [&](QWidget* parent, const QString& text, const QString& caption) {
            asked << caption + QLatin1Char('|') + text;
            rightPlace = rightPlace && parent == &owner && QThread::currentThread() == qApp->thread();
            return answer;
        };
        prompt.open = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        std::thread check([&] {
            prompt.offerUpdate("https://example.org/tavrin/download.html");
            prompt.offerUpdate("file:///etc/passwd");
            prompt.offerUpdate("javascript:alert(1)");
        });
        check.join();
        QVERIFY(asked.isEmpty()); // handed over, not asked on the check thread
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(asked.front(), QStringLiteral("Tavrin Capture|A software update is available. Get it now?"));
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/tavrin/download.html"))});
        QVERIFY(rightPlace);

        answer = false; // "No" opens nothing
        prompt.offerUpdate("http://example.org/");
        QTRY_COMPARE(asked.size(), 2);
        QCOMPARE(opened.size(), 1);
    }

  private:
    tavrin::testing::TempDir dir_;
    tavrin::testing::CurrentDirGuard startDir_; // goes back before the folder goes
};

QTEST_MAIN(ControlWindowQtTest)
#include "ControlWindowQtTest.moc"

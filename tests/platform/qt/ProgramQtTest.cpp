// SPDX-License-Identifier: GPL-2.0-or-later
// The whole program on the simulated board, driven through its control window as
// a user would: screenshot, record, console, layout, close, a firmware update. Needs an X server
// with GLX for the picture windows and a sound server (scripts/test-env.sh).
#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/Diagnostics.h"
#include "base/Settings.h"
#include "fakes/EventuallyQt.h"
#include "fakes/FirmwareTestImage.h"
#include "fakes/TempFolders.h"
#include "main/QtAppPlatform.h"
#include "platform/qt/ControlWindow.h"
#include "platform/qt/RecordButton.h"
#include "platform/sim/SimulatedBoard.h"
#if HAVE_TAVRIN_PULSE
#include "platform/pulse/DelayMeter.h"
#include "platform/pulse/PrivateSoundServer.h"
#include "platform/qt_display/DisplayWindow.h"
#endif

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::eventuallyWithEvents;

namespace {

// Temporary folders whose current directory really follows the output folder,
// as the program's own folders do.
class ProgramFolders : public tavrin::testing::TempFolders {
  public:
    bool setCurrentDirectory(const std::string& path) override {
        return TempFolders::setCurrentDirectory(path) && ::chdir(path.c_str()) == 0;
    }
};

template <typename T> T* topLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(w))
            return found;
    return nullptr;
}

QPlainTextEdit* consoleWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == QStringLiteral("Tavrin Capture - Debug"))
            return qobject_cast<QPlainTextEdit*>(w);
    return nullptr;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t bigEndian32(const std::vector<uint8_t>& b, std::size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The application object a test of the program runs in.
struct TestApplication {
    TestApplication() { base::setDiagnosticsToStdout(false); }
    int argc = 1;
    char name[13] = "program-test";
    char* argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};

TEST(Program, ScreenshotRecordConsoleLayoutAndClose) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X server: run under scripts/test-env.sh";
    const std::filesystem::path startDir = std::filesystem::current_path();
    TestApplication qtApp;

    ProgramFolders folders;
    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    app::CaptureApp capture(board, keys);
    program::QtAppPlatform platform(capture, folders, false);

    std::string pngPath;
    QString recordStatus;
    bool consoleShowedStatistics = false;
    bool recording = false;
    bool recordStopped = false;
    QTimer::singleShot(0, [&] {
        auto* window = topLevel<qt::ControlWindow>();
        ASSERT_NE(window, nullptr);
        auto closeAtTheEnd = qScopeGuard([&] { window->close(); });

        ASSERT_TRUE(eventuallyWithEvents(
            [&] { return window->statusLine()->text() == QStringLiteral("Connected"); }, 5s));

        // Screenshot: the next frame lands as 00000.png in the output folder (the desktop).
        QTest::mouseClick(window->screenshotButton(), Qt::LeftButton);
        ASSERT_TRUE(eventuallyWithEvents(
            [&] { return window->statusLine()->text().startsWith(QStringLiteral("Saved ")); }, 5s));
        pngPath = folders.desktop + "/00000.png";

        // Record for a moment: the button stays in, the settings are shut, the status counts.
        QTest::mouseClick(window->recordButton(), Qt::LeftButton);
        ASSERT_TRUE(window->recordButton()->isChecked()) << window->statusLine()->text().toStdString();
        EXPECT_FALSE(window->videoSettingsButton()->isEnabled());
        EXPECT_FALSE(window->displayModeList()->isEnabled());
        recording = eventuallyWithEvents(
            [&] { return window->statusLine()->text().endsWith(QStringLiteral("FPS")); }, 5s);
        QTest::qWait(1000);
        QTest::mouseClick(window->recordButton(), Qt::LeftButton);
        recordStatus = window->statusLine()->text();
        recordStopped = !window->recordButton()->isChecked() && window->videoSettingsButton()->isEnabled();

        // The console shows the statistics of the open board, then closes again.
        window->debugConsoleAction()->trigger();
        QPlainTextEdit* console = consoleWindow();
        ASSERT_NE(console, nullptr);
        consoleShowedStatistics =
            eventuallyWithEvents([&] { return console->toPlainText().contains(QStringLiteral("OK=")); }, 5s);
        window->debugConsoleAction()->trigger();
        EXPECT_FALSE(console->isVisible());

        // The single-screen picture, kept for the next start.
        emit window->displayModeList()->activated(2);
    });

    EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
    std::filesystem::current_path(startDir);

    EXPECT_TRUE(consoleShowedStatistics);
    EXPECT_TRUE(recording);
    EXPECT_TRUE(recordStopped);
    EXPECT_TRUE(recordStatus.startsWith(QString::fromStdString(folders.desktop + "/00000.avi\n")))
        << recordStatus.toStdString();

    // The recording is a RIFF AVI file in the output folder.
    const std::vector<uint8_t> avi = readFile(folders.desktop + "/00000.avi");
    ASSERT_GT(avi.size(), 12u);
    EXPECT_EQ(std::string(avi.begin(), avi.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(avi.begin() + 8, avi.begin() + 12), "AVI ");

    // A real PNG of the dual-screen picture.
    const std::vector<uint8_t> png = readFile(pngPath);
    ASSERT_GT(png.size(), 24u) << pngPath;
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(bigEndian32(png, 16), 256u);
    EXPECT_EQ(bigEndian32(png, 20), 384u);

    // Closed the ordinary way: the settings were saved, with the new layout.
    const auto saved = base::parseSettingsFile(folders.readSettingsFile());
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->displayMode, 7);
    EXPECT_EQ(saved->outputFolder.utf8(), folders.desktop + "/");
}

// A recording that a crash left unfinished (no index, a torn last chunk, its marker
// beside it) is finished by the next start of the program, which says so.
TEST(Program, StartFinishesARecordingLeftUnfinished) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X server: run under scripts/test-env.sh";
    const std::filesystem::path startDir = std::filesystem::current_path();
    TestApplication qtApp;
    ProgramFolders folders;
    const std::string path = folders.desktop + "/00007.avi";
    ASSERT_EQ(std::system(
                  ("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=30 -t 2 -c:v ffv1 -y '" + path + "'")
                      .c_str()),
              0);
    std::vector<uint8_t> avi = readFile(path);
    const std::string bytes(avi.begin(), avi.end());
    const std::size_t index = bytes.rfind("idx1");
    ASSERT_NE(index, std::string::npos);
    avi.resize(index - 5); // the index and a few bytes of the last chunk are lost
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(avi.data()), static_cast<std::streamsize>(avi.size()));
    std::ofstream(folders.desktop + "/.00007.avi.unfinished");

    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    app::CaptureApp capture(board, keys);
    program::QtAppPlatform platform(capture, folders, false);
    QString status;
    QTimer::singleShot(0, [&] {
        auto* window = topLevel<qt::ControlWindow>();
        ASSERT_NE(window, nullptr);
        auto closeAtTheEnd = qScopeGuard([&] { window->close(); });
        // The board's state comes by itself after the start; the note stays below it.
        EXPECT_TRUE(eventuallyWithEvents(
            [&] { return window->statusLine()->text().startsWith(QStringLiteral("Connected")); }, 5s));
        status = window->statusLine()->text();
    });
    EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
    std::filesystem::current_path(startDir);

    EXPECT_EQ(status, QStringLiteral("Connected\nRecovered 00007.avi"));
    EXPECT_FALSE(std::filesystem::exists(folders.desktop + "/.00007.avi.unfinished"));
    const std::vector<uint8_t> finished = readFile(path);
    ASSERT_GE(finished.size(), avi.size()) << "nothing is cut off";
    // The chunks before the torn one are as they were; it becomes padding.
    const std::size_t movi = bytes.find("movi");
    const std::size_t lastChunk = bytes.rfind("00dc", index);
    ASSERT_LT(movi, lastChunk);
    EXPECT_TRUE(std::equal(avi.begin() + static_cast<std::ptrdiff_t>(movi + 4),
                           avi.begin() + static_cast<std::ptrdiff_t>(lastChunk),
                           finished.begin() + static_cast<std::ptrdiff_t>(movi + 4)));
    const std::string text(finished.begin(), finished.end());
    EXPECT_EQ(text.compare(lastChunk, 4, "JUNK"), 0);
    EXPECT_NE(text.rfind("idx1"), std::string::npos);
    const uint32_t riff = uint32_t(finished[4]) | uint32_t(finished[5]) << 8 | uint32_t(finished[6]) << 16 |
                          uint32_t(finished[7]) << 24;
    EXPECT_EQ(riff + 8u, finished.size());
}

// A board asking for firmware: Start in the Firmware Update dialog writes it, the board
// leaves the bus and comes back, and the program opens it as an arrival ("Connected").
TEST(Program, AnUpdatedBoardComesBackAndIsOpened) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X server: run under scripts/test-env.sh";
    TestApplication qtApp;
    const std::filesystem::path startDir = std::filesystem::current_path();
    ProgramFolders folders;
    sim::SimulatedBoard::Options options;
    options.version = 1;
    sim::SimulatedBoard board(options);
    device::NoModifierKeys keys;
    tavrin::testing::FakeInflater inflater{tavrin::testing::makeFirmwareTestImage()};
    app::CaptureApp capture(board, keys);
    capture.capture.boardDevice.setFirmwareImage(tavrin::testing::kFakeContainer, &inflater);
    program::QtAppPlatform platform(capture, folders, false);

    bool updated = false;
    QString status;
    QTimer::singleShot(0, [&] {
        QPushButton* start = nullptr;
        ASSERT_TRUE(eventuallyWithEvents(
            [&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->isVisible() && w->windowTitle() == QStringLiteral("Firmware Update"))
                        for (auto* button : w->findChildren<QPushButton*>())
                            if (button->text() == QStringLiteral("Start"))
                                start = button;
                return start != nullptr;
            },
            5s));
        QTest::mouseClick(start, Qt::LeftButton);
        auto* window = topLevel<qt::ControlWindow>();
        ASSERT_NE(window, nullptr);
        auto closeAtTheEnd = qScopeGuard([&] { window->close(); });
        updated = eventuallyWithEvents(
            [&] { return window->statusLine()->text() == QStringLiteral("Connected"); }, 10s);
        status = window->statusLine()->text();
    });
    EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
    std::filesystem::current_path(startDir);
    EXPECT_TRUE(updated) << status.toStdString();
    EXPECT_EQ(board.arrivals(), 1);
}

// Where the program can place its windows, the control window opens clear of the
// picture windows, all of them on the screen, whatever layout it starts with.
TEST(Program, ControlWindowOpensBesideThePictures) {
    if (!std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        GTEST_SKIP() << "needs an X server without a compositor: run under scripts/test-env.sh";
    TestApplication qtApp;
    const std::filesystem::path startDir = std::filesystem::current_path();
    for (const std::pair<int, int>& layout : {std::pair{6, 0}, std::pair{6, 1}, std::pair{7, 0}}) {
        const int mode = layout.first; // named copies: a lambda cannot take a structured binding in C++20
        const int split = layout.second;
        ProgramFolders folders;
        base::Settings stored;
        stored.displayMode = mode;
        stored.splitWindows = static_cast<uint8_t>(split);
        const auto record = base::encodeSettingsRecord(stored);
        folders.writeSettingsFile({record.begin(), record.end()});
        sim::SimulatedBoard board;
        device::NoModifierKeys keys;
        app::CaptureApp capture(board, keys);
        program::QtAppPlatform platform(capture, folders, false);
        int pictures = 0;
        QTimer::singleShot(0, [&] {
            auto* control = topLevel<qt::ControlWindow>();
            ASSERT_NE(control, nullptr);
            auto closeAtTheEnd = qScopeGuard([&] { control->close(); });
            // Until the window manager has framed and placed everything.
            QTest::qWait(1500);
            const QRect area = control->screen()->availableGeometry();
            EXPECT_TRUE(area.contains(control->frameGeometry()));
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!w->isVisible() || w == control || qobject_cast<QMenu*>(w))
                    continue;
                if (!w->windowTitle().startsWith(QStringLiteral("Tavrin Capture - ")) &&
                    w->windowTitle() != QStringLiteral("Pellan Capture"))
                    continue;
                ++pictures;
                EXPECT_FALSE(w->frameGeometry().intersects(control->frameGeometry()))
                    << w->windowTitle().toStdString() << " layout " << mode << "/" << split;
                EXPECT_TRUE(area.contains(w->frameGeometry())) << w->windowTitle().toStdString();
            }
        });
        EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
        std::filesystem::current_path(startDir);
        EXPECT_EQ(pictures, split ? 2 : 1) << "layout " << mode << "/" << split;
    }
}

#if HAVE_TAVRIN_PULSE
// F7 in the picture window plays the input through the speakers at once, again stops
// it, and the switch is kept for the next start.
TEST(Program, F7ListensToTheInputAndTheSwitchIsKept) {
    if (!std::getenv("DISPLAY") || !tavrin::testing::soundServerAnswers())
        GTEST_SKIP() << "needs an X server and a sound server: run under scripts/test-env.sh";
    TestApplication qtApp;
    const std::filesystem::path startDir = std::filesystem::current_path();
    ProgramFolders folders;
    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    app::CaptureApp capture(board, keys);
    program::QtAppPlatform platform(capture, folders, false);
    auto ours = [] {
        const auto streams = tavrin::testing::soundServerPlaybackStreams();
        return streams ? std::count(streams->begin(), streams->end(), "Tavrin Capture") : -1;
    };
    bool offAtFirst = false, heard = false, stopped = false;
    tavrin::testing::DelayMeter::Result measured;
    QTimer::singleShot(0, [&] {
        auto* control = topLevel<qt::ControlWindow>();
        ASSERT_NE(control, nullptr);
        auto closeAtTheEnd = qScopeGuard([&] { control->close(); });
        auto* picture = topLevel<qt_display::DisplayWindow>();
        ASSERT_NE(picture, nullptr);
        QTest::qWait(500);
        offAtFirst = ours() == 0;
        QTest::keyClick(picture, Qt::Key_F7);
        heard = eventuallyWithEvents([&] { return ours() == 1; }, 5s);
        tavrin::testing::DelayMeter meter;
        if (meter.start()) {
            QTest::qWait(3000);
            measured = meter.stop();
        }
        QTest::keyClick(picture, Qt::Key_F7);
        stopped = eventuallyWithEvents([&] { return ours() == 0; }, 5s);
        QTest::keyClick(picture, Qt::Key_F7); // on again, as the next start will find it
        eventuallyWithEvents([&] { return ours() == 1; }, 5s);
    });
    EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
    std::filesystem::current_path(startDir);
    EXPECT_TRUE(offAtFirst) << "off until asked: a microphone would echo";
    EXPECT_TRUE(heard);
    EXPECT_TRUE(measured.reachedSpeakers()) << measured.failure;
    EXPECT_GE(measured.markersAtOutput, measured.markersAtInput / 2);
    EXPECT_TRUE(stopped);
    std::ifstream options(folders.settingsFolder() + "/options.conf");
    const std::string text{std::istreambuf_iterator<char>(options), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("listen=1\n"), std::string::npos) << text;
    EXPECT_EQ(ours(), 0) << "nothing left behind at exit";
}
#endif

} // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
// The whole program on the simulated board as a camera, read by pipewiresrc while
// the user changes the layout and turns "Share as camera" off and on in a picture
// window's menu. Needs an X server and the PipeWire daemon of scripts/test-env.sh.
#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/Diagnostics.h"
#include "fakes/EventuallyQt.h"
#include "fakes/TempFolders.h"
#include "main/QtAppPlatform.h"
#include "platform/pipewire/CameraReference.h"
#include "platform/qt/ControlWindow.h"
#include "platform/qt_display/DisplayWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace tavrin;
using namespace std::chrono_literals;
using tavrin::testing::eventuallyWithEvents;

namespace {

template <typename T> T* topLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(w))
            return found;
    return nullptr;
}

// Triggers "Share as camera" in the picture window's menu, as a click would.
bool shareAsCamera() {
    auto* window = topLevel<qt_display::DisplayWindow>();
    if (!window)
        return false;
    QMenu* menu = window->createContextMenu();
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Share as camera")) {
            action->trigger();
            menu->deleteLater();
            return true;
        }
    menu->deleteLater();
    return false;
}

} // namespace

TEST(ProgramCamera, AReaderKeepsExactPicturesAcrossALayoutChangeAndTheMenuSwitchesTheCamera) {
    if (!std::getenv("DISPLAY") || !tavrin::testing::havePipewireDaemon() ||
        !tavrin::testing::haveGstPipewire())
        GTEST_SKIP() << "needs an X server, a PipeWire daemon and pipewiresrc: run under scripts/test-env.sh";
    int argc = 1;
    char name[] = "program-camera-test";
    char* argv[] = {name, nullptr};
    QApplication qtApp(argc, argv);
    base::setDiagnosticsToStdout(false);
    tavrin::testing::TempFolders folders;
    const std::string frames = folders.root + "/frames";
    std::filesystem::create_directories(frames);
    sim::SimulatedBoard board;
    device::NoModifierKeys keys;
    app::CaptureApp capture(board, keys);
    program::QtAppPlatform platform(capture, folders, false);

    bool dualSeen = false, singleSeen = false, nodeGone = false, nodeBack = false;
    QTimer::singleShot(0, [&] {
        auto* window = topLevel<qt::ControlWindow>();
        ASSERT_NE(window, nullptr);
        auto closeAtTheEnd = qScopeGuard([&] { window->close(); });
        ASSERT_TRUE(eventuallyWithEvents(
            [&] { return window->statusLine()->text() == QStringLiteral("Connected"); }, 5s));
        ASSERT_TRUE(
            eventuallyWithEvents([] { return !tavrin::testing::nodeProps("tavrin-capture").empty(); }, 5s));

        tavrin::testing::GstReader reader("tavrin-capture", frames);
        dualSeen =
            eventuallyWithEvents([&] { return tavrin::testing::GstReader::files(frames).size() >= 30; }, 10s);
        emit window->displayModeList()->activated(2); // the single-screen picture, while it reads
        const std::size_t before = tavrin::testing::GstReader::files(frames).size();
        singleSeen = eventuallyWithEvents(
            [&] { return tavrin::testing::GstReader::files(frames).size() >= before + 60; }, 10s);
        reader.stop();

        // The switch withdraws the camera from other programs and brings it back.
        ASSERT_TRUE(shareAsCamera());
        nodeGone =
            eventuallyWithEvents([] { return tavrin::testing::nodeProps("tavrin-capture").empty(); }, 5s);
        ASSERT_TRUE(shareAsCamera());
        nodeBack =
            eventuallyWithEvents([] { return !tavrin::testing::nodeProps("tavrin-capture").empty(); }, 5s);
    });
    EXPECT_EQ(app::runProgram(capture, platform, folders), 0);
    EXPECT_TRUE(dualSeen);
    EXPECT_TRUE(singleSeen);
    EXPECT_TRUE(nodeGone);
    EXPECT_TRUE(nodeBack);

    // Every picture read is exactly one of the program's own, dual-screen ones
    // first, then single-screen ones on the same canvas; none is half of each.
    const tavrin::testing::CameraReference dual(device::kDualScreenLayout, 2048);
    const tavrin::testing::CameraReference single(device::kSingleScreenLayout, 2048);
    int dualCount = 0, singleCount = 0, notExact = 0, dualAfterSingle = 0;
    for (const std::string& file : tavrin::testing::GstReader::files(frames)) {
        const std::vector<uint8_t> bytes = tavrin::testing::readBytes(file);
        if (!dual.find(bytes).empty()) {
            ++dualCount;
            dualAfterSingle += singleCount > 0;
        } else if (!single.find(bytes).empty()) {
            ++singleCount;
        } else {
            ++notExact;
        }
    }
    EXPECT_EQ(notExact, 0);
    EXPECT_EQ(dualAfterSingle, 0);
    EXPECT_GE(dualCount, 30);
    EXPECT_GE(singleCount, 50) << "the reader kept getting pictures after the layout change";

    // The switch ended on, and is kept for the next start.
    std::ifstream options(folders.settingsFolder() + "/options.conf");
    const std::string text{std::istreambuf_iterator<char>(options), std::istreambuf_iterator<char>()};
    EXPECT_EQ(text.rfind("camera=1\n", 0), 0u) << text;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Shows the simulated board's picture in the display windows, without the control
// window: frames are made on a timer and handed over as the control window does.
//   tavrin-display-demo [--layout 6|7] [--split] [--point] [--shrink] [--top] [--fps N]
//                       [--full-screen] [--menu] [--quit-after MS]
#include "base/Messages.h"
#include "base/Settings.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "display/FrameConversion.h"
#include "platform/qt_display/DisplayWindow.h"
#include "platform/qt_display/QtDisplayManager.h"
#include "platform/sim/SimulatedBoard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

using namespace tavrin;

namespace {

class DemoControlWindow : public base::MessageTarget {
  public:
    explicit DemoControlWindow(qt_display::QtDisplayManager& displays) : displays_(displays) {}
    void postMessage(uint32_t message, uintptr_t, intptr_t) override {
        QMetaObject::invokeMethod(
            qApp,
            [this, message] {
                if (message == base::WM_CLOSE) {
                    displays_.destroyDisplayWindows();
                    QApplication::quit();
                } else if (message == base::UM_TOPMOST) {
                    displays_.applyTopmost();
                } else if (message == base::WM_SYSCOMMAND) {
                    std::printf("F12: the control window would toggle the debug console\n");
                }
            },
            Qt::QueuedConnection);
    }

  private:
    qt_display::QtDisplayManager& displays_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    base::Settings settings;
    int fps = 60;
    int quitAfter = 0;
    bool fullScreen = false;
    bool menu = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--layout" && more)
            settings.displayMode = std::atoi(argv[++i]);
        else if (a == "--split")
            settings.splitWindows = 1;
        else if (a == "--point")
            settings.pointScaling = 1;
        else if (a == "--shrink")
            settings.shrinkWhenMaximized = 1;
        else if (a == "--top")
            settings.alwaysOnTop = 1;
        else if (a == "--fps" && more)
            fps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--full-screen")
            fullScreen = true;
        else if (a == "--menu")
            menu = true;
        else if (a == "--quit-after" && more)
            quitAfter = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: %s [--layout 6|7] [--split] [--point] [--shrink] [--top] [--fps N] "
                         "[--full-screen] [--menu] [--quit-after MS]\n",
                         argv[0]);
            return 2;
        }
    }

    device::FramePool pool;
    if (!pool.setup()) {
        std::fprintf(stderr, "no memory for the frames\n");
        return 1;
    }
    base::MessageLink link;
    qt_display::QtDisplayManager displays(settings, link);
    DemoControlWindow control(displays);
    link.set(&control);
    displays.applyDisplayMode(settings.displayMode, settings.splitWindows != 0);

    uint64_t picture = 0;
    QTimer frames;
    QObject::connect(&frames, &QTimer::timeout, [&] {
        device::FrameRef frame = pool.take(std::chrono::milliseconds(0));
        if (!frame)
            return; // every frame is held somewhere
        sim::SimulatedBoard::renderPicture(picture++, frame->data.get());
        if (!display::convertFrame(*frame, settings.displayMode))
            return;
        if (display::DisplayTarget* bottom = displays.bottomDisplay())
            bottom->present(frame.share());
        if (display::DisplayTarget* main = displays.mainDisplay())
            main->present(std::move(frame));
    });
    frames.start(1000 / fps);

    if (fullScreen) {
        // As the user would: Alt+Enter in the main window.
        QTimer::singleShot(200, [&] {
            if (auto* w = displays.mainWindow())
                QCoreApplication::postEvent(w,
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::AltModifier));
        });
    }
    if (menu) {
        // As a right click in the picture would.
        QTimer::singleShot(300, [&] {
            if (auto* w = displays.mainWindow())
                w->showContextMenu(w->mapToGlobal(QPoint(40, 60)));
        });
    }
    if (quitAfter > 0)
        QTimer::singleShot(quitAfter, [&] {
            displays.destroyDisplayWindows();
            QApplication::quit();
        });
    const int rc = QApplication::exec();
    frames.stop();
    displays.destroyDisplayWindows();
    return rc;
}

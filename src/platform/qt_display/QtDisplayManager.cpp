// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_display/QtDisplayManager.h"

#include "platform/qt_display/DisplayWindow.h"
#include "platform/qt_display/X11Window.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace tavrin::qt_display {

std::unique_ptr<display::DisplayWindowHandle>
QtDisplayWindowFactory::createDisplayWindow(const display::DisplayWindowPlan& plan) {
    auto window =
        std::make_unique<DisplayWindow>(settings_, picture_, controlWindow_, rearrangeAll_, options_);
    switch (window->init(plan)) {
    case DisplayWindow::InitResult::Ok:
        return window;
    case DisplayWindow::InitResult::WindowFailed:
        return nullptr;
    case DisplayWindow::InitResult::GraphicsFailed:
        window.reset();
        fatalError("dx.init() failed");
        return nullptr;
    }
    return nullptr;
}

display::ScreenArea QtDisplayWindowFactory::screenArea() {
    display::ScreenArea area;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return area;
    const QRect r = screen->availableGeometry();
    area.available = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    if (QtDisplayManager::canPlaceWindows())
        area.roomBeside = roomBeside_;
    if (x11::available() && !x11::windowManagerRunning())
        return area; // no frames
    const QRect framed = QtDisplayManager::withFrame(QRect(0, 0, 0, 0));
    area.frameLeft = -framed.left();
    area.frameTop = -framed.top();
    area.frameRight = framed.width() + framed.left();
    area.frameBottom = framed.height() + framed.top();
    return area;
}

bool QtDisplayManager::canPlaceWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QRect QtDisplayManager::withFrame(const QRect& client) {
    if (x11::available() && !x11::windowManagerRunning())
        return client;
    // A frame is known once a display window has been shown; until then a guess on
    // the large side, so that a window rather starts too small than off the screen.
    const QMargins m = DisplayWindow::frameMarginsSeen().value_or(QMargins(8, 32, 8, 8));
    return client.marginsAdded(m);
}

QPoint QtDisplayManager::placeBeside(const QSize& clientSize) {
    std::vector<display::WindowRect> taken;
    for (DisplayWindow* w : {mainWindow(), bottomWindow()})
        if (w) {
            const QRect r = withFrame(w->geometry());
            taken.push_back({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
        }
    const QRect outer = withFrame(QRect(QPoint(0, 0), clientSize));
    const display::ClientPosition at =
        display::placeClearOf(factory_.screenArea(), taken, {outer.width(), outer.height()});
    // The frame's corner: a widget's move() places its frame.
    return {at.x, at.y};
}

void showFatalErrorAndExit(std::string_view text) {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    std::fprintf(stderr, "%s\n", qPrintable(message));
    QMessageBox::critical(nullptr, QStringLiteral("Error"), message);
    std::exit(-1);
}

void QtDisplayWindowFactory::fatalError(const char* text) {
    if (fatalError_)
        fatalError_(text);
    else
        showFatalErrorAndExit(text);
}

void QtDisplayManager::rearrange(bool shape) {
    for (DisplayWindow* w : {mainWindow(), bottomWindow()})
        if (w)
            w->rearrange(shape);
}

DisplayWindow* QtDisplayManager::mainWindow() {
    return dynamic_cast<DisplayWindow*>(windows_.mainDisplay());
}

DisplayWindow* QtDisplayManager::bottomWindow() {
    return dynamic_cast<DisplayWindow*>(windows_.bottomDisplay());
}

} // namespace tavrin::qt_display

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
    auto window = std::make_unique<DisplayWindow>(settings_, controlWindow_, options_);
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
    if (x11::available() && !x11::windowManagerRunning())
        return area; // no frames
    // A frame is known once a display window has been shown; until then a guess on
    // the large side, so that a window rather starts too small than off the screen.
    const QMargins m = DisplayWindow::frameMarginsSeen().value_or(QMargins(8, 32, 8, 8));
    area.frameLeft = m.left();
    area.frameTop = m.top();
    area.frameRight = m.right();
    area.frameBottom = m.bottom();
    return area;
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

DisplayWindow* QtDisplayManager::mainWindow() {
    return dynamic_cast<DisplayWindow*>(windows_.mainDisplay());
}

DisplayWindow* QtDisplayManager::bottomWindow() {
    return dynamic_cast<DisplayWindow*>(windows_.bottomDisplay());
}

} // namespace tavrin::qt_display

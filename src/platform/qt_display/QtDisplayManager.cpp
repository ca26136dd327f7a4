#include "platform/qt_display/QtDisplayManager.h"

#include "platform/qt_display/DisplayWindow.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace tavrin::qt_display {

std::unique_ptr<display::DisplayWindowHandle>
QtDisplayWindowFactory::createDisplayWindow(const display::DisplayWindowPlan& plan) {
    auto window = std::make_unique<DisplayWindow>(settings_, controlWindow_);
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

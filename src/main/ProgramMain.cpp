#include "main/ProgramMain.h"

#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "app/ConsoleToggle.h"
#include "app/Diagnostics.h"
#include "device/ReadThread.h"
#include "platform/qt/ConsoleWindow.h"
#include "platform/qt/ControlWindow.h"
#include "platform/qt/QtModifierKeys.h"
#include "platform/qt/TerminationSignals.h"
#include "platform/usb/HotplugWatcher.h"
#include "record/NoRecording.h"

#include <QApplication>
#include <QMessageBox>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace tavrin::program {

namespace {

// Stands in until the display windows are part of the build: frames go straight back.
class NoDisplays : public display::DisplayManager {
  public:
    explicit NoDisplays(app::StoredLayout& settings) : settings_(settings) {}
    void applyDisplayMode(int layoutId, bool split) override {
        settings_.displayMode = layoutId;
        settings_.splitWindows = split;
    }
    void destroyDisplayWindows() override {}
    display::DisplayTarget* mainDisplay() override { return nullptr; }
    display::DisplayTarget* bottomDisplay() override { return nullptr; }
    void applyTopmost() override {}
    void focusMainDisplay() override {}

  private:
    app::StoredLayout& settings_;
};

bool switchDevice(app::CaptureApp& capture, const device::InterfaceClassId* filter) {
    std::lock_guard lk(capture.appLock);
    if (device::UsbDevice* current = capture.currentDevice.load())
        current->close();
    const bool opened = capture.boardDevice.open(filter);
    capture.currentDevice =
        opened ? static_cast<device::UsbDevice*>(&capture.boardDevice) : &capture.nullDevice;
    return opened;
}

} // namespace

int runProgram(device::UsbTransport& transport, bool watchForArrivals) {
    // The program takes nothing on its command line: Qt sees only the program name.
    static int argc = 1;
    static char name[] = "tavrin-capture";
    static char* argv[] = {name, nullptr};
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin Capture"));
    QApplication::setDesktopFileName(QStringLiteral("tavrin-capture"));
    // Only WM_CLOSE to the control window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    qt::QtModifierKeys keys;
    auto capture = std::make_unique<app::CaptureApp>(transport, keys);

    app::StoredLayout settings;
    uint32_t aviCounter = 0;
    std::atomic<bool> consoleOpen{false};
    NoDisplays displays(settings);
    record::NoRecording recorder;

    qt::ControlWindow window;
    qt::ConsoleWindow consoleWindow;
    app::ConsoleToggle console(consoleWindow, consoleOpen, nullptr);
    consoleWindow.setClosedHandler([&console] { console.consoleClosed(); });

    app::ControlWindowLogic::Services services{window, displays, recorder, nullptr, aviCounter};
    services.storedLayout = [&settings] { return settings; };
    services.switchDevice = [&capture](const device::InterfaceClassId* filter) {
        return switchDevice(*capture, filter);
    };
    services.offerFirmwareUpdate = [] { return false; };
    services.toggleDebugConsole = [&console] { console.toggle(); };
    app::ControlWindowLogic logic(std::move(services));
    window.attach(logic);
    capture->controlWindow.set(&window.messageTarget());
    logic.initialise(window.messageTarget());
    window.show();
    qt::TerminationSignals terminationSignals(
        [&window] { window.messageTarget().postMessage(app::WM_CLOSE, 0, 0); });

    // appInit
    capture->currentDevice = &capture->nullDevice;
    usb::HotplugWatcher watcher(capture->controlWindow);
    if (watchForArrivals)
        watcher.start();
    if (!device::usbThread_start(*capture)) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QStringLiteral("usbThread_start() failed"));
        std::_Exit(-1 & 0xFF);
    }
    switchDevice(*capture, nullptr);

    const int code = QApplication::exec();

    // appShutdown
    watcher.stop();
    device::stopReadThread(*capture, std::chrono::milliseconds(500));
    {
        std::lock_guard lk(capture->appLock);
        capture->currentDevice.load()->close();
        capture->currentDevice = &capture->nullDevice;
    }
    // A read thread that did not end in time still uses the application object.
    (void)capture.release();
    return code;
}

} // namespace tavrin::program

// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/QtAppPlatform.h"

#include "app/CaptureApp.h"
#include "app/ConsoleToggle.h"
#include "app/ControlWindowLogic.h"
#include "app/FatalError.h"
#include "app/Lifecycle.h"
#include "base/Diagnostics.h"
#include "base/Messages.h"
#include "base/NoticeStatusLine.h"
#include "device/DeviceArrival.h"
#include "platform/qt/ConsoleWindow.h"
#include "platform/qt/ControlWindow.h"
#include "platform/qt/QtFolderChooser.h"
#include "platform/qt/QtUpdatePrompt.h"
#include "platform/qt/TerminationSignals.h"
#include "platform/usb/HotplugWatcher.h"
#if !HAVE_TAVRIN_QT_RECORD
#include "record/NoRecording.h"
#endif
#if HAVE_TAVRIN_QT_DISPLAY
#include "platform/qt_display/QtDisplayManager.h"
#else
#include "display/NoDisplays.h"
#endif
#if HAVE_TAVRIN_QT_FIRMWARE
#include "platform/qt_firmware/FirmwareDialog.h"
#endif
#if HAVE_TAVRIN_QT_RECORD
#include "platform/media/FfmpegPlatform.h"
#include "platform/qt_record/RecordingSetup.h"
#endif
#if HAVE_TAVRIN_PNG
#include "platform/png/LodePngEncoder.h"
#include "screenshot/Screenshots.h"
#endif
#if HAVE_TAVRIN_PIPEWIRE
#include "platform/pipewire/PipeWireCamera.h"
#endif
#if HAVE_TAVRIN_PULSE
#include "platform/pulse/PulseListener.h"
#endif
#if HAVE_TAVRIN_NET
#include "platform/net/CurlHttpGet.h"
#include "update/SettingsKey.h"
#include "update/UpdateCheck.h"
#endif

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace tavrin::program {

namespace {

// The options the picture windows' menu offers: "Share as camera" only with a camera in
// the build, "Listen" only with a sound server's client.
base::ProgramOptions* menuOptions(app::CaptureApp& app) {
#if HAVE_TAVRIN_PIPEWIRE
    app.options.inBuild.camera = true;
#endif
#if HAVE_TAVRIN_PULSE
    app.options.inBuild.listen = true;
#endif
    return &app.options;
}

} // namespace

// Everything that exists between initToolkit and shutdownToolkit, in the order
// it is made (and the reverse order it goes).
struct QtAppPlatform::Parts {
    Parts(app::CaptureApp& app, int* givenArgc, char** givenArgv)
        : app_(app), qtApp(QApplication::instance() ? nullptr
                           : givenArgc              ? std::make_unique<QApplication>(*givenArgc, givenArgv)
                                                    : std::make_unique<QApplication>(argc, argv)),
#if HAVE_TAVRIN_QT_DISPLAY
          // Failing to draw ends the program the way every fatal error does.
          displays(
              app.settings, app.capture.controlWindow,
              [&app](std::string_view text) { app::reportFatalError(app, text); }, menuOptions(app),
              &app.options.picture),
#else
          displays(app.settings),
#endif
          watcher([this](const device::DeviceArrival& arrival) { postArrival(arrival); }) {
    }

    // Arrivals reach the window only while it takes messages; they are watched only
    // while the window exists.
    void postArrival(const device::DeviceArrival& arrival) {
        if (app_.capture.controlWindow.isSet())
            window->postDeviceArrival(arrival);
    }

    app::CaptureApp& app_;
    // Without the program's own command line, Qt sees only its name.
    int argc = 1;
    char name[16] = "tavrin-capture";
    char* argv[2] = {name, nullptr};
    // Ours, unless the caller (a test) made one already.
    std::unique_ptr<QApplication> qtApp;

#if HAVE_TAVRIN_QT_DISPLAY
    qt_display::QtDisplayManager displays;
#else
    display::NoDisplays displays;
#endif
#if !HAVE_TAVRIN_QT_RECORD
    record::NoRecording recorder;
#endif
    usb::HotplugWatcher watcher;
    std::optional<qt::ControlWindow> window;
    // The window's status line as every part writes to it.
    std::optional<base::NoticeStatusLine> status;
    std::optional<qt::ConsoleWindow> consoleWindow;
    std::optional<app::ConsoleToggle> console;
    std::optional<qt::QtFolderChooser> folderChooser;
#if HAVE_TAVRIN_QT_RECORD
    // After the window it belongs to; it ends no recording itself (WM_CLOSE does).
    std::optional<qt_record::RecordingSetup> recording;
#endif
#if HAVE_TAVRIN_PNG
    png::LodePngEncoder pngEncoder;
    // After the window, so it goes first: it waits for its workers, which write to the status line.
    std::optional<screenshot::Screenshots> screenshots;
#endif
#if HAVE_TAVRIN_PIPEWIRE
    // Before the window's logic, which hands it frames, so it goes after it.
    std::optional<pipewire::PipeWireCamera> camera;
#endif
#if HAVE_TAVRIN_PULSE
    // Before the window's logic, which tells it what to play.
    std::optional<pulse::PulseListener> listener;
#endif
    std::optional<app::ControlWindowLogic> logic;
    std::optional<qt::TerminationSignals> terminationSignals;
    std::optional<qt::QtUpdatePrompt> updatePrompt;
#if HAVE_TAVRIN_NET
    std::optional<net::CurlHttpGet> http;
    // Last, so it goes first: a check still running is cancelled and waited for.
    std::optional<update::UpdateCheck> updateCheck;
#endif
};

QtAppPlatform::QtAppPlatform(app::CaptureApp& app, base::UserFolders& folders, bool watchForArrivals,
                             const ProgramIdentity& identity, int* argc, char** argv)
    : app_(app), folders_(folders), watchForArrivals_(watchForArrivals), identity_(identity), argc_(argc),
      argv_(argv) {}

QtAppPlatform::~QtAppPlatform() {
    shutdownToolkit();
}

void QtAppPlatform::initToolkit() {
    parts_ = std::make_unique<Parts>(app_, argc_, argv_);
    // The name is also the X11 window class, the desktop file name the Wayland app id.
    QApplication::setApplicationName(QString::fromUtf8(identity_.displayName.data(),
                                                       static_cast<qsizetype>(identity_.displayName.size())));
    QApplication::setDesktopFileName(QString::fromUtf8(
        identity_.desktopFileName.data(), static_cast<qsizetype>(identity_.desktopFileName.size())));
    // Only WM_CLOSE to the control window ends the program, never a closed window.
    QApplication::setQuitOnLastWindowClosed(false);
    // From now on Ctrl+C or SIGTERM closes the program the ordinary way. One that
    // comes before the control window exists is acted on by the first event loop,
    // the firmware dialog's or the main one, when the window is there.
    parts_->terminationSignals.emplace([this] { postCloseToControlWindow(); });
}

bool QtAppPlatform::createControlWindow() {
    Parts& p = *parts_;
    p.window.emplace();
    p.status.emplace(*p.window);
    p.consoleWindow.emplace();
    p.console.emplace(*p.consoleWindow, app_);
    p.consoleWindow->setClosedHandler([&p] { p.console->consoleClosed(); });

    p.folderChooser.emplace(&*p.window);
    screenshot::ScreenshotControl* screenshots = nullptr;
#if HAVE_TAVRIN_PNG
    p.screenshots.emplace(app_.settings, folders_, app_.pngCounter, app_.aviCounter, *p.status,
                          *p.folderChooser, p.pngEncoder);
    screenshots = &*p.screenshots;
#endif
#if HAVE_TAVRIN_QT_RECORD
    base::NoticeStatusLine* status = &*p.status;
    p.recording.emplace(
        &*p.window, app_.settings, [status](const std::string& text) { status->setStatusText(text); },
        [](record::CompressorDialogHost* host) { return std::make_unique<media::FfmpegPlatform>(host); });
    record::RecordingControl& recorder = p.recording->control();
#else
    record::RecordingControl& recorder = p.recorder;
#endif
    app::ControlWindowLogic::Services services{*p.window, p.displays, recorder, screenshots};
    services.status = &*p.status;
#if HAVE_TAVRIN_QT_RECORD
    services.showVideoCodecDialog = [&p] { p.recording->showVideoCodecDialog(); };
    services.showAudioSettingsDialog = [this, &p] {
        p.recording->showAudioSettingsDialog(app_.options.inBuild.listen ? &app_.options.listen : nullptr);
    };
#endif
    services.offerFirmwareUpdate = [this] { return app::offerFirmwareUpdate(app_, *this); };
    services.toggleDebugConsole = [&p] { p.console->toggle(); };
#if HAVE_TAVRIN_PIPEWIRE
    p.camera.emplace();
    services.camera = &*p.camera;
#endif
#if HAVE_TAVRIN_PULSE
    p.listener.emplace();
    services.listener = &*p.listener;
#endif
    p.logic.emplace(app_, std::move(services));
    p.window->attach(*p.logic);

    app_.capture.controlWindow.set(&p.window->messageTarget());
#if HAVE_TAVRIN_QT_DISPLAY
    // The picture windows leave room for the control window, which opens beside them.
    const bool placeable = qt_display::QtDisplayManager::canPlaceWindows();
    if (placeable)
        p.displays.setRoomBeside(qt_display::QtDisplayManager::withFrame(p.window->rect()).width());
#endif
    p.logic->initialise(p.window->messageTarget());
#if HAVE_TAVRIN_QT_DISPLAY
    if (placeable)
        p.window->move(p.displays.placeBeside(p.window->size()));
#endif
    p.window->show();
    return true;
}

bool QtAppPlatform::registerDeviceNotification() {
    return watchForArrivals_ && parts_->watcher.start();
}

void QtAppPlatform::unregisterDeviceNotification() {
    parts_->watcher.stop();
}

void QtAppPlatform::postBoardArrival() {
    parts_->postArrival(device::kBoardArrival);
}

void QtAppPlatform::runMessageLoop() {
    // A close request handled before the loop (inside the firmware dialog's own
    // loop) has ended the window and asked every loop to end; a loop started now
    // would never be told again.
    if (!parts_->logic || !parts_->logic->destroyed())
        QApplication::exec();
    // The window is gone: from now on the read thread takes its frames back itself.
    app_.capture.controlWindow.set(nullptr);
}

void QtAppPlatform::showErrorBox(std::string_view text) {
    QMessageBox::critical(nullptr, QStringLiteral("Error"),
                          QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void QtAppPlatform::exitProcess(int exitCode) {
    std::fflush(stdout);
    std::_Exit(exitCode);
}

int QtAppPlatform::runFirmwareDialog() {
    QWidget* owner = parts_->window ? &*parts_->window : nullptr;
#if HAVE_TAVRIN_QT_FIRMWARE
    return qt_firmware::firmwareDialog(app_, owner);
#else
    QMessageBox::critical(owner, QStringLiteral("Tavrin Capture"),
                          QStringLiteral("The board needs new firmware, but this build of Tavrin Capture "
                                         "cannot update it. The program will close."));
    return 0;
#endif
}

void QtAppPlatform::endFirmwareDialog() {
#if HAVE_TAVRIN_QT_FIRMWARE
    if (parts_ && parts_->window)
        if (auto* dialog = parts_->window->findChild<qt_firmware::FirmwareDialog*>())
            dialog->boardReady();
#endif
}

void QtAppPlatform::postCloseToControlWindow() {
    if (parts_ && parts_->window)
        parts_->window->messageTarget().postMessage(base::WM_CLOSE, 0, 0);
}

void QtAppPlatform::scheduleUpdateCheck() {
#if HAVE_TAVRIN_NET
    Parts& p = *parts_;
    p.updatePrompt.emplace(p.window ? &*p.window : nullptr);
    p.http.emplace();
    p.updateCheck.emplace(update::SettingsKey::placeIn(folders_), *p.http, *p.updatePrompt);
    p.updateCheck->scheduleUpdateCheck();
#endif
}

void QtAppPlatform::shutdownToolkit() {
    if (!parts_)
        return;
    if (!app_.capture.readThreadEnded()) {
        // The read thread outlived its time limit and may still post to the
        // window's message target: leave everything to the process exit.
        (void)parts_.release();
        return;
    }
    parts_.reset();
}

} // namespace tavrin::program

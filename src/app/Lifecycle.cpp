// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Lifecycle.h"

#include "app/AppPlatform.h"
#include "app/CaptureApp.h"
#include "base/Settings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tavrin::app {

namespace {

constexpr auto kReadThreadStopLimit = std::chrono::milliseconds(500);

} // namespace

int runProgram(CaptureApp& app, AppPlatform& platform, base::UserFolders& folders,
               CaptureStarter startCapture) {
    platform.initToolkit();
    app.fatalErrorHook = [&platform](std::string_view text) {
        platform.showErrorBox(text);
        platform.exitProcess(-1);
    };
    // The hook refers to `platform`, which lives only as long as this call.
    struct HookReset {
        CaptureApp& app;
        ~HookReset() { app.fatalErrorHook = nullptr; }
    } hookReset{app};
    // Before the control window: its initialisation applies the stored layout.
    app.settingsNotice = base::loadSettings(app.settings, folders);
    base::loadProgramOptions(app.options, folders);
    if (!platform.createControlWindow())
        return 0; // nothing was started, so nothing is saved
    if (!appInit(app, platform, startCapture))
        return -1; // only reached when exitProcess returned
    platform.runMessageLoop();
    appShutdown(app, platform, folders);
    return 0;
}

bool appInit(CaptureApp& app, AppPlatform& platform, CaptureStarter startCapture) {
    {
        std::lock_guard lock(app.capture.appLock);
        app.capture.currentDevice = &app.capture.nullDevice;
    }
    app.deviceNotification = platform.registerDeviceNotification();
    app.transportAnnounces =
        app.capture.transport.setArrivalObserver([&platform] { platform.postBoardArrival(); });

    if (!startCapture(app.capture)) {
        platform.showErrorBox("usbThread_start() failed");
        platform.exitProcess(-1);
        return false;
    }

    device::switchDevice(app.capture, nullptr);
    // A board that asks for firmware gets it before anything else; the update
    // check is then left out of this run.
    if (!offerFirmwareUpdate(app, platform))
        platform.scheduleUpdateCheck();
    return true;
}

bool offerFirmwareUpdate(CaptureApp& app, AppPlatform& platform) {
    // A plain read of the state, without the lock: a stale value only delays the
    // offer to the next arrival.
    const device::UsbDevice* current = app.capture.currentDevice.load();
    const int state = current ? current->state() : device::DEVICE_CLOSED;
    if (app.firmwareDialogOpen) {
        // The board was unplugged and came back while the dialog was open. A second
        // dialog would outlive the update and then offer only "Error (66)"; the
        // open one takes the board now current when Start is pressed.
        if (state == device::DEVICE_OPEN)
            platform.endFirmwareDialog();
        return false;
    }
    if (state != device::DEVICE_FIRMWARE_REQUIRED)
        return false;
    app.firmwareDialogOpen = true;
    const int result = platform.runFirmwareDialog();
    app.firmwareDialogOpen = false;
    if (result <= 0)
        platform.postCloseToControlWindow();
    return true;
}

void appShutdown(CaptureApp& app, AppPlatform& platform, base::UserFolders& folders) {
    // A thread that does not end in time is left to end with the process.
    device::usbThread_stop(app.capture, kReadThreadStopLimit);
    {
        // Waits for a frame read in progress before the device goes.
        std::lock_guard lock(app.capture.appLock);
        if (device::UsbDevice* current = app.capture.currentDevice.load())
            current->close();
        app.capture.currentDevice = &app.capture.nullDevice;
        if (app.deviceNotification) {
            platform.unregisterDeviceNotification();
            app.deviceNotification = false;
        }
        if (app.transportAnnounces) {
            app.capture.transport.setArrivalObserver({});
            app.transportAnnounces = false;
        }
    }
    base::saveSettings(app.settings, folders);
    base::saveProgramOptions(app.options, folders);
    platform.shutdownToolkit();
}

int endProgram(CaptureApp* app, int code) {
    if (!app->capture.readThreadEnded()) {
        // The process exit ends the read thread, before anything it uses is destroyed.
        std::fflush(stdout);
        std::_Exit(code);
    }
    delete app;
    return code;
}

} // namespace tavrin::app

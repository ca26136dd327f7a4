// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string_view>

namespace tavrin::app {

// The window-system steps of start-up and shutdown. The application logic in
// Lifecycle.h calls them in a fixed order (see runProgram); the Qt front end
// implements them, and tests record the order.
//
// Every method is called on the main thread. None of them may take the
// application lock (CaptureApp::appLock) except where noted, because
// unregisterDeviceNotification is called while the lock is held.
class AppPlatform {
  public:
    virtual ~AppPlatform() = default;

    // Start-up steps 2 and 3: initialise the toolkit (application object, styles,
    // resources) before anything else touches it. Failures here are the
    // toolkit's own business; the result is not looked at.
    virtual void initToolkit() = 0;

    // Step 5: create the control window. Its initialisation must, before this
    // returns, set CaptureApp::controlWindow to its message target, create the
    // display windows for the stored layout (Settings::displayMode and
    // splitWindows) and post UM_FOCUS_DISPLAY. Returns false when the window could
    // not be created; the program then ends at once with nothing saved.
    virtual bool createControlWindow() = 0;

    // Step 6.3: ask to be told when a board interface arrives (libusb hotplug).
    // Arrivals must only be posted to the control window, never handled on the
    // watcher's thread. False when registration is not possible; start-up goes on
    // and the program then never learns of a board plugged in later.
    virtual bool registerDeviceNotification() = 0;
    // Shutdown step 2, called with the application lock held and only when
    // registration succeeded. Must not wait for anything that takes the lock.
    virtual void unregisterDeviceNotification() = 0;
    // A board that tells of its own arrivals (the simulated one) has arrived: posted to
    // the control window as a system's arrival of the board's interface would be. Called
    // on the board's own thread.
    virtual void postBoardArrival() = 0;

    // Step 7: dispatch the main thread's events until the control window has
    // been destroyed (its destruction ends the loop). Posted messages, UM_FRAME
    // included, are handled here. Returns at once when the window is already gone
    // (a close request handled inside the firmware dialog's loop).
    virtual void runMessageLoop() = 0;

    // A modal message box with `text`, the caption "Error", one OK button and no
    // owner window. Returns when the user has dismissed it.
    virtual void showErrorBox(std::string_view text) = 0;

    // Ends the process at once with `exitCode` (no shutdown step runs, nothing is
    // saved). The program's implementation does not return; a test's may, and the
    // caller then stops as if the process had ended.
    virtual void exitProcess(int exitCode) = 0;

    // Runs the firmware dialog modally, owned by the control window, while the
    // control window keeps handling its posted messages. Returns the dialog's
    // result: above 0 when the update succeeded, 0 or below when it was cancelled
    // or failed.
    virtual int runFirmwareDialog() = 0;

    // The board the open firmware dialog is for came back (unplugged and plugged
    // in again) already open, needing no update: end that dialog as a success,
    // unless its update is running, whose own end then ends it. Called only
    // while runFirmwareDialog runs, from inside its loop.
    virtual void endFirmwareDialog() = 0;

    // Posts WM_CLOSE to the control window, which closes the program the ordinary
    // way (recording ended, windows destroyed, then the loop ends).
    virtual void postCloseToControlWindow() = 0;

    // Considers the occasional update check; may start its thread.
    virtual void scheduleUpdateCheck() = 0;

    // Shutdown step 4: release what initToolkit took. Last call of the run.
    virtual void shutdownToolkit() = 0;
};

} // namespace tavrin::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ReadThread.h"
#include "device/UsbTransport.h"

namespace tavrin::base {
class UserFolders;
}

namespace tavrin::app {

struct CaptureApp;
class AppPlatform;

// How the capture side is brought up; device::usbThread_start in the program.
using CaptureStarter = bool (*)(device::CaptureSession&);

// The whole program from entry to exit code, in the fixed order:
//   initToolkit; loadSettings; createControlWindow (false: return 0 at once);
//   appInit; runMessageLoop; appShutdown; return 0.
// It also installs CaptureApp::fatalErrorHook ("Error" box, then exit code -1).
// Returns -1 only when a fatal error's exitProcess returned (a test platform).
int runProgram(CaptureApp& app, AppPlatform& platform, base::UserFolders& folders,
               CaptureStarter startCapture = device::usbThread_start);

// The second half of start-up, after the control window exists: null device
// current, arrival notifications, frame pool and read thread, the board opened if
// present, then the firmware dialog if it needs one, else the update check.
// False only when the capture side could not start: the "usbThread_start()
// failed" box was shown and exitProcess(-1) called.
bool appInit(CaptureApp& app, AppPlatform& platform, CaptureStarter startCapture = device::usbThread_start);

// When the current device asks for firmware, runs the firmware dialog and posts
// WM_CLOSE if it was cancelled or failed. Returns whether the dialog ran. While a
// dialog is open (a board arrival handled inside its loop) no second one is
// shown: the open one goes on with the board now current, and ends as a success
// if that board is open and needs nothing.
bool offerFirmwareUpdate(CaptureApp& app, AppPlatform& platform);

// After the message loop: stop the read thread (500 ms at most), close the
// device under the lock and drop the notification registration, save the
// settings, release the toolkit.
void appShutdown(CaptureApp& app, AppPlatform& platform, base::UserFolders& folders);

// The last step of main, after runProgram: `app` (made with new) is deleted and `code`
// returned; but while its read thread outlived its time limit, the process ends at once
// with `code`, so the thread dies before anything it uses is destroyed.
int endProgram(CaptureApp* app, int code);

} // namespace tavrin::app

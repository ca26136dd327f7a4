// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/win32/Win32ProgramMain.h"

#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/KnownUserFolders.h"
#include "platform/win32/Win32AppPlatform.h"
#include "platform/win32/Win32Firmware.h"
#include "platform/win32/Win32ModifierKeys.h"

#include <cstdio>
#include <cstdlib>

namespace tavrin::program {

int runWin32Program(HINSTANCE__* instance, device::UsbTransport& transport, bool watchForArrivals) {
    win32::Win32ModifierKeys keys;
    // Lives for the whole run. Left alone at the end when the read thread did not
    // stop in time, since that thread may still be using it.
    auto* capture = new app::CaptureApp(transport, keys);
    win32::installFirmwareResource(capture->capture.boardDevice);
    base::KnownUserFolders folders;
    int code = 0;
    {
        win32::Win32AppPlatform platform(*capture, folders, instance, watchForArrivals);
        code = app::runProgram(*capture, platform, folders);
    }
    return app::endProgram(capture, code);
}

} // namespace tavrin::program

// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/win32/Win32ProgramMain.h"

#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/KnownUserFolders.h"
#include "platform/win32/Win32AppPlatform.h"
#include "platform/win32/Win32Firmware.h"
#include "platform/win32/Win32ModifierKeys.h"

#if TAVRIN_WIN32_MEDIA
#include "platform/media/AudioCaptureFilter.h"
#include "platform/media/FfmpegPlatform.h"
#endif

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
        win32::Win32AppPlatform::MediaFactory makeMedia;
#if TAVRIN_WIN32_MEDIA
        makeMedia = [] { return std::make_unique<media::FfmpegPlatform>(); };
#endif
        win32::Win32AppPlatform platform(*capture, folders, instance, watchForArrivals, makeMedia);
        code = app::runProgram(*capture, platform, folders);
    }
#if TAVRIN_WIN32_MEDIA
    // The sound input kept open between recordings is let go while the process can
    // still stop its thread.
    media::AudioCaptureFilter::closeIdleDevices();
#endif
    return app::endProgram(capture, code);
}

} // namespace tavrin::program

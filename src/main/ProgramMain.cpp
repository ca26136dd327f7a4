#include "main/ProgramMain.h"

#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "app/XdgUserFolders.h"
#include "main/QtAppPlatform.h"
#include "platform/qt/QtModifierKeys.h"
#include "platform/qt/TerminationSignals.h"
#if HAVE_TAVRIN_FIRMWARE
#include "platform/firmware/EmbeddedFirmware.h"
#endif

#include <cstdio>
#include <cstdlib>

namespace tavrin::program {

int runProgram(device::UsbTransport& transport, bool watchForArrivals) {
    // Ctrl+C or SIGTERM at any moment from here on closes the program the ordinary way.
    qt::TerminationSignals::catchSignals();
    qt::QtModifierKeys keys;
    // Lives for the whole run. Left alone at the end when the read thread did not
    // stop in time, since that thread may still be using it.
    auto* capture = new app::CaptureApp(transport, keys);
#if HAVE_TAVRIN_FIRMWARE
    firmware::installFirmwareImage(capture->boardDevice);
#endif
    app::XdgUserFolders folders;
    int code = 0;
    {
        QtAppPlatform platform(*capture, folders, watchForArrivals);
        code = app::runProgram(*capture, platform, folders);
    }
    if (!capture->readThreadEnded.load()) {
        // The process exit ends the read thread, before anything it uses is destroyed.
        std::fflush(stdout);
        std::_Exit(code);
    }
    delete capture;
    return code;
}

} // namespace tavrin::program

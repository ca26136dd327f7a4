// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/ProgramMain.h"

#include "app/CaptureApp.h"
#include "app/Lifecycle.h"
#include "base/XdgUserFolders.h"
#include "main/QtAppPlatform.h"
#include "platform/qt/QtModifierKeys.h"
#include "platform/qt/TerminationSignals.h"
#if HAVE_TAVRIN_FIRMWARE
#include "platform/firmware/EmbeddedFirmware.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tavrin::program {

std::optional<int> answerCommandLine(int argc, char** argv, const ProgramIdentity& identity) {
    const CommandLineOutcome outcome =
        parseCommandLine(std::vector<std::string>(argv, argv + argc), identity);
    if (outcome.run)
        return std::nullopt;
    std::fputs(outcome.out.c_str(), stdout);
    std::fputs(outcome.err.c_str(), stderr);
    return outcome.exitCode;
}

int runProgram(device::UsbTransport& transport, bool watchForArrivals, const ProgramIdentity& identity,
               int& argc, char** argv) {
    // Ctrl+C or SIGTERM at any moment from here on closes the program the ordinary way.
    qt::TerminationSignals::catchSignals();
    qt::QtModifierKeys keys;
    // Lives for the whole run. Left alone at the end when the read thread did not
    // stop in time, since that thread may still be using it.
    auto* capture = new app::CaptureApp(transport, keys);
#if HAVE_TAVRIN_FIRMWARE
    firmware::installFirmwareImage(capture->capture.boardDevice);
#endif
    base::XdgUserFolders folders;
    int code = 0;
    {
        QtAppPlatform platform(*capture, folders, watchForArrivals, identity, &argc, argv);
        code = app::runProgram(*capture, platform, folders);
    }
    return app::endProgram(capture, code);
}

} // namespace tavrin::program

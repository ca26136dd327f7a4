// SPDX-License-Identifier: GPL-2.0-or-later
// Tavrin Capture: the viewer and recorder for a real board.
#include "main/ProgramMain.h"
#include "platform/usb/LibusbTransport.h"

int main(int argc, char** argv) {
    using namespace tavrin::program;
    if (const auto code = answerCommandLine(argc, argv, kProgramIdentity))
        return *code;
    tavrin::usb::LibusbTransport transport;
    return runProgram(transport, true, kProgramIdentity, argc, argv);
}

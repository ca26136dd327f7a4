// SPDX-License-Identifier: GPL-2.0-or-later
// The same program on the simulated board's moving picture, for trying it
// without hardware.
//   tavrin-capture-demo [--needs-firmware]
// --needs-firmware: the board reports firmware version 1 and so asks for an update.
#include "main/ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

#include <cstring>

int main(int argc, char** argv) {
    using namespace tavrin::program;
    // The demo's own option is taken out before the program's command line is read.
    tavrin::sim::SimulatedBoard::Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--needs-firmware"))
            options.version = 1;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    if (const auto code = answerCommandLine(argc, argv, kDemoIdentity))
        return *code;
    tavrin::sim::SimulatedBoard board(options);
    return runProgram(board, false, kDemoIdentity, argc, argv);
}

// The same program on the simulated board's moving picture, for trying it
// without hardware.
//   tavrin-capture-demo [--needs-firmware]
// --needs-firmware: the board reports firmware version 1 and so asks for an update.
#include "main/ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    tavrin::sim::SimulatedBoard::Options options;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--needs-firmware")) {
            options.version = 1;
        } else {
            std::fprintf(stderr, "usage: %s [--needs-firmware]\n", argv[0]);
            return 2;
        }
    }
    tavrin::sim::SimulatedBoard board(options);
    return tavrin::program::runProgram(board, false);
}

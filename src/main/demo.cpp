// The same program on the simulated board's moving picture, for trying it
// without hardware.
#include "main/ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

int main(int argc, char** argv) {
    using namespace tavrin::program;
    if (const auto code = answerCommandLine(argc, argv, kDemoIdentity))
        return *code;
    tavrin::sim::SimulatedBoard board;
    return runProgram(board, false, kDemoIdentity, argc, argv);
}

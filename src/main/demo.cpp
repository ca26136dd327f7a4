// The same program on the simulated board's moving picture, for trying it
// without hardware.
#include "main/ProgramMain.h"
#include "platform/sim/SimulatedBoard.h"

int main() {
    tavrin::sim::SimulatedBoard board;
    return tavrin::program::runProgram(board, false);
}

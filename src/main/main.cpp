// Tavrin Capture: the viewer and recorder for a real board.
#include "main/ProgramMain.h"
#include "platform/usb/LibusbTransport.h"

int main() {
    tavrin::usb::LibusbTransport transport;
    return tavrin::program::runProgram(transport, true);
}

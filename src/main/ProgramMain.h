#pragma once

#include "device/UsbTransport.h"

namespace tavrin::program {

// The whole program on `transport`: start-up, the message loop, shutdown.
// Returns the process exit code.
int runProgram(device::UsbTransport& transport, bool watchForArrivals);

} // namespace tavrin::program

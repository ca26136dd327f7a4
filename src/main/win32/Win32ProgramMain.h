// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

struct HINSTANCE__;

namespace tavrin::program {

// The whole Windows program on `transport`: start-up, the message loop, shutdown.
// Returns the process exit code.
int runWin32Program(HINSTANCE__* instance, device::UsbTransport& transport, bool watchForArrivals);

} // namespace tavrin::program

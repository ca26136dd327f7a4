// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"
#include "main/CommandLine.h"

#include <optional>

namespace tavrin::program {

// Answers --help, --version and wrong options (printing what they ask for) before
// anything else starts: the exit code then, nothing when the program is to run.
std::optional<int> answerCommandLine(int argc, char** argv, const ProgramIdentity& identity);

// The whole program on `transport`: start-up, the message loop, shutdown. Qt takes
// its own options from argc/argv. Returns the process exit code.
int runProgram(device::UsbTransport& transport, bool watchForArrivals, const ProgramIdentity& identity,
               int& argc, char** argv);

} // namespace tavrin::program

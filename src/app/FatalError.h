// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string_view>

namespace tavrin::app {

struct CaptureApp;

// A failure that the program cannot go on from ("Out of memory"): shown in a
// message box captioned "Error", then the process ends with exit code -1.
// Goes through CaptureApp::fatalErrorHook when one is installed (runProgram
// installs the platform's); without one, the text goes to the diagnostics and
// the process ends at once. Returns only when a test's hook returns.
void reportFatalError(CaptureApp& app, std::string_view text);

} // namespace tavrin::app

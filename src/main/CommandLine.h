// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::program {

// Who a program is to the desktop: its name, the desktop file (and Wayland app id)
// and the X11 window class, which Qt takes from the application name. The demo has
// its own, so that desktops neither group it with the program nor give it its entry.
struct ProgramIdentity {
    std::string_view displayName;
    std::string_view desktopFileName;
    std::string_view executable;
};

inline constexpr ProgramIdentity kProgramIdentity{"Tavrin Capture", "org.tavrin.Capture", "tavrin-capture"};
inline constexpr ProgramIdentity kDemoIdentity{"Tavrin Capture Demo", "org.tavrin.Capture.Demo",
                                               "tavrin-capture-demo"};

// What the command line asks for: run the program, or print `out` / `err` and end
// with `exitCode`.
struct CommandLineOutcome {
    bool run = true;
    int exitCode = 0;
    std::string out;
    std::string err;
};

// --help and --version (exit 0), Qt's own options (left for QApplication), anything
// else refused with a one-line error and the usage (exit 2). `args` starts with the
// program's own name, as argv does.
CommandLineOutcome parseCommandLine(const std::vector<std::string>& args, const ProgramIdentity& identity);

// The version the build was made from, as "4.0".
std::string_view programVersion();

} // namespace tavrin::program

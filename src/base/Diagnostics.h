// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace tavrin::base {

// Writes one diagnostic text, printf style, to standard output and to every
// mirror (the debug console window shows them while it is open). Thread-safe.
void debugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debugWrite(std::string_view text);

using DiagnosticMirror = std::function<void(std::string_view)>;

// Mirrors are called on the writing thread; they must only hand the text on.
int addDiagnosticMirror(DiagnosticMirror mirror);
void removeDiagnosticMirror(int id);

// Standard output can be switched off (tests that produce thousands of lines).
void setDiagnosticsToStdout(bool on);

} // namespace tavrin::base

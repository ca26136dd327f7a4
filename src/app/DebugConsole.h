// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "device/CaptureFrame.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

namespace tavrin::app {

struct CaptureApp;

// The panel's data lines by bit of the 16-bit pixel word. Green has six lines,
// red and blue the upper five.
inline constexpr std::array<const char*, 16> lineNames = {"B1", "B2", "B3", "B4", "B5", "G0", "G1", "G2",
                                                          "G3", "G4", "G5", "R1", "R2", "R3", "R4", "R5"};

// The data lines that never changed over a frame's 98,304 words.
struct DataLineMasks {
    uint32_t stuckHigh = 0; // lines that were 1 in every word
    uint32_t stuckLow = 0;  // lines that were 0 in every word
};
DataLineMasks scanDataLines(const uint8_t* pictureBytes);

// Stores the masks of `frame` in CaptureApp::stuckHigh and stuckLow. Called by
// the frame conversion while the debug console is open.
void analyseDataLines(CaptureApp& app, const device::CaptureFrame& frame);

// The statistics thread ("tavrin-stats") and how it waits (tests replace it).
struct StatsThread {
    // How the thread waits between two lines. Empty: wait the time, waking
    // early only to stop. Tests replace it before the thread starts.
    std::function<void(std::chrono::milliseconds)> sleep;
    // Stopped when the application object goes.
    base::Worker worker;
};

// Starts statsThread the first time; later calls do nothing. Sets the link
// counters and the stuck masks to 0 first. Returns whether it started it now.
bool startStatsThread(CaptureApp& app);

// Once a second until stopped: one statistics line, then okCount back to 0.
void statsThread(CaptureApp& app, const base::WorkerControl& control);

// Writes one statistics line through the diagnostics and sets okCount to 0:
//   "Not connected\n" while the current device is closed, else
//   "OK=%d SKIPS=%d ERRORS=%d " ["STUCK=" {"%s " per stuck line}] "(%04X%04X)\n".
// G0 held at 0 is not reported as stuck (only at 1).
void writeStatsLine(CaptureApp& app);

// Ends the thread and waits for it (tests). Harmless when it never started.
void stopStatsThread(CaptureApp& app);

} // namespace tavrin::app

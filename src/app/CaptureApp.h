// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/DebugConsole.h"
#include "base/ProgramOptions.h"
#include "base/Settings.h"
#include "device/CaptureSession.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tavrin::app {

// The application object: one per process in the program (tests make their own).
// It lives for the whole run; devices and frames in it are never re-created.
struct CaptureApp {
    CaptureApp(device::UsbTransport& transport, const device::ModifierKeys& keys)
        : capture(transport, keys) {}

    // The capture side: devices, lock, frame pool, read thread, link counters.
    // Declared first, so it goes last: the statistics thread reads its counters.
    device::CaptureSession capture;

    // --- Application core: settings, lifecycle state, control-window state, diagnostics ---
    // The persisted choices with the codec block; main thread only.
    base::Settings settings;
    // The options beside the record (options.conf); main thread only.
    base::ProgramOptions options;
    // What loading the settings has to tell the user (a damaged file), shown in
    // the status line when the control window starts; empty when nothing.
    std::string settingsNotice;
    // runFirmwareDialog is running: there is one firmware dialog at a time.
    bool firmwareDialogOpen = false;
    // Arrival notifications are registered (cleared again at shutdown).
    bool deviceNotification = false;
    // The transport tells of its own arrivals, heard until shutdown.
    bool transportAnnounces = false;
    // Ends the program after a fatal error ("Error" box, exit code -1); see
    // app/FatalError.h. runProgram installs the platform's.
    std::function<void(std::string_view text)> fatalErrorHook;
    // Control window state, main thread only.
    bool recording = false;
    bool blinkPhase = false;
    bool screenshotRequested = false;
    // Next numbers tried for the numbered names of recordings and screenshots.
    uint32_t aviCounter = 0;
    uint32_t pngCounter = 0;
    // The debug console is open: frames get their data lines analysed.
    std::atomic<bool> consoleOpen{false};
    // Data lines found stuck in the last analysed frame (low 16 bits); written on
    // the main thread, read by the statistics thread.
    std::atomic<uint32_t> stuckHigh{0};
    std::atomic<uint32_t> stuckLow{0};
    // Declared last: it is stopped first when the object goes, while everything
    // it reads is still there.
    StatsThread stats;
};

} // namespace tavrin::app

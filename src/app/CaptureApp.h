// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/DebugConsole.h"
#include "app/Messages.h"
#include "app/Settings.h"
#include "device/FrameQueue.h"
#include "device/LockRequest.h"
#include "device/TavrinDevice.h"
#include "device/UsbDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tavrin::app {

// The application object: one per process in the program (tests make their own).
// It lives for the whole run; devices and frames in it are never re-created.
struct CaptureApp {
    CaptureApp(device::UsbTransport& transport, const device::ModifierKeys& keys)
        : boardDevice(transport, keys, controlWindow) {}
    CaptureApp(const CaptureApp&) = delete;
    CaptureApp& operator=(const CaptureApp&) = delete;

    ControlWindowLink controlWindow;

    // Guards currentDevice and every call into a device. Recursive, so a device
    // operation may close its own device while the caller holds the lock.
    std::recursive_mutex appLock;
    device::UsbDevice nullDevice;
    device::TavrinDevice boardDevice;
    // Written only under appLock; its state is read without it by a few threads.
    std::atomic<device::UsbDevice*> currentDevice{nullptr};
    // A device switch waiting for appLock: the read thread lets it go first.
    device::LockRequest switchRequest;

    device::FramePool framePool;
    std::thread readThread;
    std::atomic<int32_t> stopFlag{0};
    std::atomic<bool> readThreadEnded{false};
    // Wakes the read thread in its pause when the stop flag is set, and the stopper
    // when the thread ends. Shared with the thread, so that a thread left to end with
    // the process never signals into a destroyed object.
    struct ReadThreadSignal {
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
    };
    std::shared_ptr<ReadThreadSignal> readThreadSignal = std::make_shared<ReadThreadSignal>();

    // Link counters: written by read_thread, read and reset by the statistics thread.
    std::atomic<int32_t> okCount{0};
    std::atomic<int32_t> skipCount{0};
    std::atomic<int32_t> errorCount{0};

    // --- Application core: settings, lifecycle state, control-window state, diagnostics ---
    // The persisted choices with the codec block; main thread only.
    Settings settings;
    // What loading the settings has to tell the user (a damaged file), shown in
    // the status line when the control window starts; empty when nothing.
    std::string settingsNotice;
    // runFirmwareDialog is running: there is one firmware dialog at a time.
    bool firmwareDialogOpen = false;
    // Arrival notifications are registered (cleared again at shutdown).
    bool deviceNotification = false;
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

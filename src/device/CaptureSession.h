// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ControlWindowTarget.h"
#include "device/FrameQueue.h"
#include "device/LockRequest.h"
#include "device/TavrinDevice.h"
#include "device/UsbDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace tavrin::device {

// Everything needed to read frames from a board: the devices, the lock that
// guards them, the frame pool, the read thread and its counters. The program's
// application object is one; a tool that only counts frames needs nothing more.
struct CaptureSession {
    CaptureSession(UsbTransport& transport, const ModifierKeys& keys)
        : boardDevice(transport, keys, controlWindow) {}
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Where frames and device news are posted; possibly not there yet.
    ControlWindowLink controlWindow;

    // Guards currentDevice and every call into a device. Recursive, so a device
    // operation may close its own device while the caller holds the lock.
    std::recursive_mutex appLock;
    UsbDevice nullDevice;
    TavrinDevice boardDevice;
    // Written only under appLock; its state is read without it by a few threads.
    std::atomic<UsbDevice*> currentDevice{nullptr};
    // A device switch waiting for appLock: the read thread lets it go first.
    LockRequest switchRequest;

    FramePool framePool;
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
};

// The only way the current device changes. Under the application lock: close the
// current device, open the board with `filter` (nullptr: any board), and make the
// board current if it opened, else the null device. Returns what open returned.
// Waits for a frame read in progress, which holds the same lock.
bool switchDevice(CaptureSession& session, const InterfaceClassId* filter);

} // namespace tavrin::device

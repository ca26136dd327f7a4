// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "device/FrameQueue.h"
#include "device/FrameSink.h"
#include "device/LockRequest.h"
#include "device/TavrinDevice.h"
#include "device/UsbDevice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace tavrin::device {

// Everything needed to read frames from a board: the devices, the lock that
// guards them, the frame pool, the read thread and its counters. The program's
// application object holds one; a tool that only counts frames needs nothing more.
// The read thread itself is reached only through usbThread_start, usbThread_stop
// and the two queries below.
class CaptureSession {
  public:
    CaptureSession(UsbTransport& boards, const ModifierKeys& keys)
        : transport(boards), boardDevice(boards, keys, controlWindow) {}
    // A read thread still running is stopped and waited for (base::Worker).
    ~CaptureSession() = default;
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Where the boards are found.
    UsbTransport& transport;
    // Where frames and device news are posted; possibly not there yet.
    FrameLink controlWindow;

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

    // Link counters: written by read_thread, read and reset by the statistics thread.
    std::atomic<int32_t> okCount{0};
    std::atomic<int32_t> skipCount{0};
    std::atomic<int32_t> errorCount{0};

    // The read thread was started and has not been joined: it runs, or was left
    // running by a stop that timed out.
    bool readThreadRunning() const { return readThread_.started(); }
    // No read thread touches this session any more: none was started, or its
    // body has returned. Until then destroying the session waits for it.
    bool readThreadEnded() const { return readThread_.ended(); }

  private:
    friend bool usbThread_start(CaptureSession& session);
    friend bool usbThread_stop(CaptureSession& session, std::chrono::milliseconds limit);

    // Declared last: destroyed first, while everything the thread uses is there.
    base::Worker readThread_;
};

// The only way the current device changes. Under the application lock: close the
// current device, open the board with `filter` (nullptr: any board), and make the
// board current if it opened, else the null device. Returns what open returned.
// Waits for a frame read in progress, which holds the same lock.
bool switchDevice(CaptureSession& session, const InterfaceClassId* filter);

} // namespace tavrin::device

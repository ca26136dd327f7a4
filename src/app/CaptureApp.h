#pragma once

#include "app/Messages.h"
#include "device/FrameQueue.h"
#include "device/TavrinDevice.h"
#include "device/UsbDevice.h"

#include <atomic>
#include <cstdint>
#include <mutex>
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

    device::FramePool framePool;
    std::thread readThread;
    std::atomic<int32_t> stopFlag{0};
    std::atomic<bool> readThreadEnded{false};

    // Link counters: written by read_thread, read and reset by the statistics thread.
    std::atomic<int32_t> okCount{0};
    std::atomic<int32_t> skipCount{0};
    std::atomic<int32_t> errorCount{0};
};

} // namespace tavrin::app

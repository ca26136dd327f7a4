// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/ReadThread.h"

#include "base/Diagnostics.h"
#include "base/Os.h"
#include "device/CaptureSession.h"

#include <cstring>

namespace tavrin::device {

namespace {

constexpr auto kPoolWait = std::chrono::milliseconds(500);
constexpr auto kErrorPause = std::chrono::milliseconds(100);
constexpr int kMaxSkipRun = 6;

} // namespace

namespace {

void read_thread(CaptureSession& session, const base::WorkerControl& control) {
    int skipRun = 0;
    FramePool& pool = session.framePool;
    while (!control.stopRequested()) {
        // A frame given up below (a retried read) goes back to the pool as `frame` lets go.
        FrameRef frame = pool.take(kPoolWait);
        if (!frame) {
            if (control.stopRequested())
                break; // woken by the stop
            base::deviceLog.warning("read_thread starved\n");
            continue;
        }

        int outcome = FRAME_ERROR;
        UsbDevice* device = session.currentDevice.load();
        if (device && device->state() == DEVICE_OPEN) {
            // A device switch waiting for the lock goes first (see LockRequest).
            if (!session.switchRequest.waitWhileRaised([&control] { return control.stopRequested(); }))
                continue;
            std::lock_guard lk(session.appLock);
            // Whatever is current under the lock gets the read, if it is open: a
            // switch may just have put a board that waits for firmware there (the
            // null device answers FRAME_ERROR).
            device = session.currentDevice.load();
            if (device->state() == DEVICE_OPEN)
                outcome = device->readFrame(*frame);
        }
        frame->result = outcome;

        if (outcome == FRAME_SKIP) {
            if (skipRun < kMaxSkipRun) {
                ++skipRun;
                session.skipCount.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            outcome = FRAME_ERROR;
            frame->result = FRAME_ERROR;
        }
        if (outcome == FRAME_OK) {
            session.okCount.fetch_add(1, std::memory_order_relaxed);
        } else if (outcome == FRAME_ERROR) {
            session.errorCount.fetch_add(1, std::memory_order_relaxed);
            std::memset(frame->data.get(), 0xFF, kPictureBytes);
        }
        skipRun = 0;

        // From here the thread does not touch the frame; without a control window
        // it is back in the pool already.
        session.controlWindow.postFrame(std::move(frame));
        if (outcome == FRAME_ERROR)
            control.pause(kErrorPause);
    }
}

} // namespace

bool usbThread_start(CaptureSession& session) {
    if (session.readThread_.started() || !session.framePool.setup())
        return false;
    return session.readThread_.start(
        "tavrin-read",
        [&session](const base::WorkerControl& control) {
            base::os::raiseThreadPriority();
            read_thread(session, control);
        },
        // Cuts a pool wait short; a device read in progress runs to its own time-out.
        [&session] { session.framePool.queue().wake(); });
}

bool usbThread_stop(CaptureSession& session, std::chrono::milliseconds limit) {
    if (!session.readThread_.started())
        return true;
    if (!session.readThread_.stop(limit))
        return false; // still running: it may still pop the wake
    session.framePool.queue().clearWake();
    return true;
}

} // namespace tavrin::device

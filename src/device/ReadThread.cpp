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

bool usbThread_start(CaptureSession& session) {
    if (!session.framePool.setup())
        return false;
    session.readThreadEnded.store(false);
    try {
        session.readThread = std::thread([&session, signal = session.readThreadSignal] {
            base::os::raiseThreadPriority();
            read_thread(session);
            {
                std::lock_guard lk(signal->mutex);
                signal->ended = true;
            }
            signal->cv.notify_all();
            // The last touch of the session: whoever sees it may destroy it.
            session.readThreadEnded.store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void read_thread(CaptureSession& session) {
    int skipRun = 0;
    FramePool& pool = session.framePool;
    while (session.stopFlag.load() == 0) {
        // A frame given up below (a retried read) goes back to the pool as `frame` lets go.
        FrameRef frame = pool.take(kPoolWait);
        if (!frame) {
            if (session.stopFlag.load() != 0)
                break; // woken by the stop
            base::deviceLog.warning("read_thread starved\n");
            continue;
        }

        int outcome = FRAME_ERROR;
        UsbDevice* device = session.currentDevice.load();
        if (device && device->state() == DEVICE_OPEN) {
            // A device switch waiting for the lock goes first (see LockRequest).
            if (!session.switchRequest.waitWhileRaised(session.stopFlag))
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
        if (outcome == FRAME_ERROR) {
            auto& signal = *session.readThreadSignal;
            std::unique_lock lk(signal.mutex);
            signal.cv.wait_for(lk, kErrorPause, [&session] { return session.stopFlag.load() != 0; });
        }
    }
}

bool usbThread_stop(CaptureSession& session, std::chrono::milliseconds limit) {
    auto& signal = *session.readThreadSignal;
    {
        std::lock_guard lk(signal.mutex);
        session.stopFlag.store(1);
    }
    signal.cv.notify_all();
    // Cuts a pool wait short; a device read in progress runs to its own time-out.
    session.framePool.queue().wake();
    if (!session.readThread.joinable()) {
        session.framePool.queue().clearWake();
        return true;
    }
    bool ended;
    {
        std::unique_lock lk(signal.mutex);
        ended = signal.cv.wait_for(lk, limit, [&signal] { return signal.ended; });
    }
    if (!ended) {
        session.readThread.detach(); // ends with the process
        return false;
    }
    session.readThread.join();
    session.framePool.queue().clearWake();
    return true;
}

} // namespace tavrin::device

// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/ReadThread.h"

#include "app/CaptureApp.h"
#include "app/Diagnostics.h"

#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavrin::device {

namespace {

constexpr auto kPoolWait = std::chrono::milliseconds(500);
constexpr auto kErrorPause = std::chrono::milliseconds(100);
constexpr int kMaxSkipRun = 6;

// Above-normal priority where the system allows it; silently ignored otherwise.
void raiseThreadPriority() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, -5);
}

} // namespace

bool usbThread_start(app::CaptureApp& app) {
    if (!app.framePool.setup())
        return false;
    app.readThreadEnded.store(false);
    try {
        app.readThread = std::thread([&app, signal = app.readThreadSignal] {
            raiseThreadPriority();
            read_thread(app);
            {
                std::lock_guard lk(signal->mutex);
                signal->ended = true;
            }
            signal->cv.notify_all();
            // The last touch of the application object: whoever sees it may destroy it.
            app.readThreadEnded.store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void read_thread(app::CaptureApp& app) {
    int skipRun = 0;
    FrameQueue& pool = app.framePool.queue();
    while (app.stopFlag.load() == 0) {
        CaptureFrame* frame = pool.pop(kPoolWait);
        if (!frame) {
            if (app.stopFlag.load() != 0)
                break; // woken by the stop
            app::debugPrintf("read_thread starved\n");
            continue;
        }

        int outcome = FRAME_ERROR;
        UsbDevice* device = app.currentDevice.load();
        if (device && device->state() == DEVICE_OPEN) {
            // A device switch waiting for the lock goes first (see LockRequest).
            if (!app.switchRequest.waitWhileRaised(app.stopFlag)) {
                pool.push(frame);
                continue;
            }
            std::lock_guard lk(app.appLock);
            // Whatever is current under the lock gets the read, if it is open: a
            // switch may just have put a board that waits for firmware there (the
            // null device answers FRAME_ERROR).
            device = app.currentDevice.load();
            if (device->state() == DEVICE_OPEN)
                outcome = device->readFrame(*frame);
        }
        frame->result = outcome;

        if (outcome == FRAME_SKIP) {
            if (skipRun < kMaxSkipRun) {
                ++skipRun;
                app.skipCount.fetch_add(1, std::memory_order_relaxed);
                pool.push(frame);
                continue;
            }
            outcome = FRAME_ERROR;
            frame->result = FRAME_ERROR;
        }
        if (outcome == FRAME_OK) {
            app.okCount.fetch_add(1, std::memory_order_relaxed);
        } else if (outcome == FRAME_ERROR) {
            app.errorCount.fetch_add(1, std::memory_order_relaxed);
            std::memset(frame->data.get(), 0xFF, kPictureBytes);
        }
        skipRun = 0;

        if (!app.controlWindow.post(app::UM_FRAME, 0, reinterpret_cast<intptr_t>(frame)))
            pool.push(frame);
        if (outcome == FRAME_ERROR) {
            auto& signal = *app.readThreadSignal;
            std::unique_lock lk(signal.mutex);
            signal.cv.wait_for(lk, kErrorPause, [&app] { return app.stopFlag.load() != 0; });
        }
    }
}

bool stopReadThread(app::CaptureApp& app, std::chrono::milliseconds limit) {
    auto& signal = *app.readThreadSignal;
    {
        std::lock_guard lk(signal.mutex);
        app.stopFlag.store(1);
    }
    signal.cv.notify_all();
    // Cuts a pool wait short; a device read in progress runs to its own time-out.
    app.framePool.queue().wake();
    if (!app.readThread.joinable()) {
        app.framePool.queue().clearWake();
        return true;
    }
    bool ended;
    {
        std::unique_lock lk(signal.mutex);
        ended = signal.cv.wait_for(lk, limit, [&signal] { return signal.ended; });
    }
    if (!ended) {
        app.readThread.detach(); // ends with the process
        return false;
    }
    app.readThread.join();
    app.framePool.queue().clearWake();
    return true;
}

} // namespace tavrin::device

// SPDX-License-Identifier: GPL-2.0-or-later
// Opens the board (or the simulated board with --simulate) and prints the read
// thread's counters once a second. A development aid, not the program.
#include "base/Diagnostics.h"
#include "device/CaptureSession.h"
#include "device/ReadThread.h"
#include "platform/sim/SimulatedBoard.h"
#include "platform/usb/LibusbTransport.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace tavrin;

namespace {

// Stands in for the control window: takes each frame and lets go of it at once.
class ReleasingTarget : public device::FrameSink {
  public:
    void postFrame(device::FrameRef frame) override {
        ++frames;
        if (frame->result == device::FRAME_ERROR)
            ++errorFrames;
    }
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
        if (message == base::UM_DEVICE)
            std::printf("UM_DEVICE %s\n", wParam ? "Connected" : "Not connected");
    }
    std::atomic<int> frames{0};
    std::atomic<int> errorFrames{0};
};

} // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    int seconds = 5;
    int fps = 60;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--simulate"))
            simulate = true;
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--fps") && i + 1 < argc)
            fps = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--simulate] [--fps N] [--seconds N]\n", argv[0]);
            return 2;
        }
    }

    std::unique_ptr<device::UsbTransport> transport;
    if (simulate) {
        sim::SimulatedBoard::Options options;
        options.framesPerSecond = fps;
        transport = std::make_unique<sim::SimulatedBoard>(options);
    } else {
        transport = std::make_unique<usb::LibusbTransport>();
    }
    device::NoModifierKeys keys;
    device::CaptureSession capture(*transport, keys);
    ReleasingTarget target;
    capture.controlWindow.set(&target);
    capture.currentDevice = &capture.nullDevice;

    if (!device::usbThread_start(capture)) {
        std::fprintf(stderr, "usbThread_start() failed\n");
        return 1;
    }
    device::switchDevice(capture, nullptr);

    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("t=%ds OK=%d SKIPS=%d ERRORS=%d delivered=%d\n", s + 1, capture.okCount.exchange(0),
                    capture.skipCount.load(), capture.errorCount.load(), target.frames.exchange(0));
        std::fflush(stdout);
    }
    device::usbThread_stop(capture, std::chrono::milliseconds(500));
    {
        std::lock_guard lk(capture.appLock);
        capture.currentDevice.load()->close();
        capture.currentDevice = &capture.nullDevice;
    }
    capture.controlWindow.set(nullptr);
    return 0;
}

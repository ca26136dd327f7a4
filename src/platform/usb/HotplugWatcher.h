// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "device/DeviceArrival.h"

#include <atomic>
#include <chrono>

struct libusb_context;
struct libusb_device;

namespace tavrin::usb {

// Tells `onArrival` when a board is plugged in, with the board's interface class,
// as the system's device notifications would. libusb's hotplug events are handled on a thread of the
// watcher's own, with a context of its own so that it never competes with
// transfers. Arrivals within `settle` of each other are posted once, `settle`
// after the last, when the new device has had time to get its permissions.
class HotplugWatcher {
  public:
    // `onArrival` is called on the watcher's thread; it must only hand the arrival on.
    explicit HotplugWatcher(device::ArrivalHandler onArrival,
                            std::chrono::milliseconds settle = std::chrono::milliseconds(300));
    ~HotplugWatcher();
    HotplugWatcher(const HotplugWatcher&) = delete;
    HotplugWatcher& operator=(const HotplugWatcher&) = delete;

    // False (with a diagnostic line) where libusb cannot watch for arrivals;
    // the program then does not learn of boards plugged in later.
    bool start();
    // Ends the event thread. Harmless when not started.
    void stop();
    bool running() const { return thread_.started(); }

    // What the hotplug callback does for a device that is a board: note the time.
    // The event thread reports the arrival once it has settled.
    void boardArrived();

  private:
    static int arrived(libusb_context* context, libusb_device* device, int event, void* self);
    void run(const base::WorkerControl& control);

    const device::ArrivalHandler onArrival_;
    const std::chrono::milliseconds settle_;
    libusb_context* context_ = nullptr;
    int callbackHandle_ = 0;
    // "tavrin-hotplug"
    base::Worker thread_;
    // steady_clock ticks of the latest board arrival not yet posted; 0 = none.
    std::atomic<int64_t> pendingSince_{0};
};

} // namespace tavrin::usb

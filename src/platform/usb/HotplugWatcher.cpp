// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/usb/HotplugWatcher.h"

#include "base/Diagnostics.h"
#include "platform/usb/LibusbTransport.h"

#include <libusb-1.0/libusb.h>

#include <utility>

namespace tavrin::usb {

namespace {
constexpr timeval kEventWait{0, 100 * 1000}; // bounds how long stop() waits
} // namespace

HotplugWatcher::HotplugWatcher(device::ArrivalHandler onArrival, std::chrono::milliseconds settle)
    : onArrival_(std::move(onArrival)), settle_(settle) {}

HotplugWatcher::~HotplugWatcher() {
    stop();
}

bool HotplugWatcher::start() {
    if (running())
        return true;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        base::deviceLog.warning(
            "this system cannot report new USB devices; plug the board in before starting\n");
        return false;
    }
    if (libusb_init(&context_) != 0) {
        context_ = nullptr;
        base::deviceLog.warning("libusb could not start; boards plugged in later will not be noticed\n");
        return false;
    }
    libusb_hotplug_callback_handle handle = 0;
    const int r = libusb_hotplug_register_callback(
        context_, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, static_cast<libusb_hotplug_flag>(0),
        LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        [](libusb_context* c, libusb_device* d, libusb_hotplug_event e, void* self) {
            return arrived(c, d, static_cast<int>(e), self);
        },
        this, &handle);
    if (r != LIBUSB_SUCCESS) {
        base::deviceLog.warning("cannot watch for new USB devices: %s\n", libusb_strerror(r));
        libusb_exit(context_);
        context_ = nullptr;
        return false;
    }
    callbackHandle_ = handle;
    if (!thread_.start("tavrin-hotplug", [this](const base::WorkerControl& control) { run(control); })) {
        base::deviceLog.warning("cannot watch for new USB devices: no thread\n");
        libusb_hotplug_deregister_callback(context_, callbackHandle_);
        libusb_exit(context_);
        context_ = nullptr;
        return false;
    }
    return true;
}

void HotplugWatcher::stop() {
    if (!running())
        return;
    // Each pass of the event loop is bounded by kEventWait; libusb is let go
    // only once the thread is out of it.
    while (!thread_.stop(std::chrono::milliseconds(1000))) {
    }
    libusb_hotplug_deregister_callback(context_, callbackHandle_);
    libusb_exit(context_);
    context_ = nullptr;
    pendingSince_.store(0);
}

int HotplugWatcher::arrived(libusb_context*, libusb_device* device, int, void* self) {
    // Runs inside libusb's event handling: note the arrival, nothing more.
    if (findBoardInterface(device) >= 0)
        static_cast<HotplugWatcher*>(self)->boardArrived();
    return 0; // stay registered
}

void HotplugWatcher::boardArrived() {
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    pendingSince_.store(now == 0 ? 1 : now);
}

void HotplugWatcher::run(const base::WorkerControl& control) {
    while (!control.stopRequested()) {
        timeval wait = kEventWait;
        libusb_handle_events_timeout_completed(context_, &wait, nullptr);
        const int64_t since = pendingSince_.load();
        if (since == 0)
            continue;
        const auto arrivedAt =
            std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(since));
        if (std::chrono::steady_clock::now() - arrivedAt < settle_)
            continue;
        int64_t expected = since; // a newer arrival restarts the wait
        if (pendingSince_.compare_exchange_strong(expected, 0) && onArrival_)
            onArrival_(device::kBoardArrival);
    }
}

} // namespace tavrin::usb

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/usb/LibusbTransport.h"

#include "base/Diagnostics.h"

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <cstdio>
#include <map>

namespace tavrin::usb {

using device::TransferResult;
using device::UsbError;

namespace {

constexpr int kPacket = 512;

UsbError mapError(int code) {
    switch (code) {
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbError::Gone;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbError::Timeout;
    default:
        return UsbError::Other;
    }
}

std::string pathOf(libusb_device* device, int interfaceNumber) {
    uint8_t ports[8];
    int n = libusb_get_port_numbers(device, ports, sizeof ports);
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // temporaries joined with operator+.
    std::string path = "usb:";
    path += std::to_string(libusb_get_bus_number(device));
    path += '-';
    for (int i = 0; i < n; ++i) {
        if (i)
            path += '.';
        path += std::to_string(ports[i]);
    }
    if (n <= 0) {
        path += 'a';
        path += std::to_string(libusb_get_device_address(device));
    }
    path += ':';
    path += std::to_string(interfaceNumber);
    return path;
}

class LibusbConnection : public device::UsbConnection {
  public:
    LibusbConnection(libusb_context* context, libusb_device_handle* handle, int interfaceNumber)
        : context_(context), handle_(handle), interface_(interfaceNumber) {}

    ~LibusbConnection() override {
        if (statusTransfer_) {
            if (pending_.load()) {
                libusb_cancel_transfer(statusTransfer_);
                // The transfer may not be freed before its callback has run.
                while (pending_.load()) {
                    timeval tv{0, 50000};
                    int completed = 0;
                    if (libusb_handle_events_timeout_completed(context_, &tv, &completed) < 0)
                        break;
                }
            }
            if (!pending_.load())
                libusb_free_transfer(statusTransfer_);
        }
        libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
    }

    bool setPipeTimeout(uint8_t pipe, uint32_t ms) override {
        timeouts_[pipe] = ms;
        return true;
    }
    bool setRawIo(uint8_t, bool) override { return true; } // libusb sends whole transfers already

    TransferResult controlTransfer(const device::UsbSetup& s, uint8_t* data) override {
        int r = libusb_control_transfer(handle_, s.requestType, s.request, s.value, s.index, data, s.length,
                                        timeout(device::kControlPipe));
        if (r < 0)
            return {false, 0, mapError(r)};
        return {true, static_cast<uint32_t>(r), UsbError::None};
    }

    TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        // Ask for whole packets only, so the board can never overflow the buffer.
        const int asked = static_cast<int>(length / kPacket * kPacket);
        int got = 0;
        int r = libusb_bulk_transfer(handle_, pipe, buffer, asked, &got, timeout(pipe));
        if (r == 0)
            return {true, static_cast<uint32_t>(got), UsbError::None};
        // A time-out still reports what arrived before it.
        return {false, static_cast<uint32_t>(got), mapError(r)};
    }

    bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        if (pending_.load())
            return false;
        if (!statusTransfer_)
            statusTransfer_ = libusb_alloc_transfer(0);
        if (!statusTransfer_)
            return false;
        libusb_fill_bulk_transfer(statusTransfer_, handle_, pipe, buffer, static_cast<int>(length),
                                  &LibusbConnection::statusDone, this, timeout(pipe));
        pending_.store(true);
        if (libusb_submit_transfer(statusTransfer_) != 0) {
            pending_.store(false);
            return false;
        }
        return true;
    }

    bool asyncReadPending(uint8_t) override { return pending_.load(); }

  private:
    static void LIBUSB_CALL statusDone(libusb_transfer* transfer) {
        static_cast<LibusbConnection*>(transfer->user_data)->pending_.store(false);
    }

    unsigned timeout(uint8_t pipe) const {
        auto it = timeouts_.find(pipe);
        return it == timeouts_.end() ? 0 : it->second;
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
    int interface_;
    std::map<uint8_t, uint32_t> timeouts_;
    libusb_transfer* statusTransfer_ = nullptr;
    std::atomic<bool> pending_{false};
};

} // namespace

int findBoardInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 || !config)
        return -1;
    int found = -1;
    for (int i = 0; i < config->bNumInterfaces && found < 0; ++i) {
        const libusb_interface& iface = config->interface[i];
        for (int a = 0; a < iface.num_altsetting && found < 0; ++a) {
            const libusb_interface_descriptor& alt = iface.altsetting[a];
            if (alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC)
                continue;
            bool frames = false, status = false;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & 0x3) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                frames = frames || ep.bEndpointAddress == device::kFramePipe;
                status = status || ep.bEndpointAddress == device::kStatusPipe;
            }
            if (frames && status)
                found = alt.bInterfaceNumber;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

LibusbTransport::LibusbTransport() {
    if (libusb_init(&context_) != 0) {
        context_ = nullptr;
        base::deviceLog.error("libusb could not start; no board can be used\n");
    }
}

LibusbTransport::~LibusbTransport() {
    if (context_)
        libusb_exit(context_);
}

std::vector<std::string> LibusbTransport::listInterfaces() {
    std::vector<std::string> paths;
    if (!context_)
        return paths;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context_, &list);
    for (ssize_t i = 0; i < n; ++i) {
        int iface = findBoardInterface(list[i]);
        if (iface >= 0)
            paths.push_back(pathOf(list[i], iface));
    }
    if (list)
        libusb_free_device_list(list, 1);
    return paths;
}

std::unique_ptr<device::UsbConnection> LibusbTransport::open(const std::string& path) {
    lastOpenFailure_ = device::OpenFailure::Other;
    if (!context_)
        return nullptr;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context_, &list);
    std::unique_ptr<device::UsbConnection> connection;
    for (ssize_t i = 0; i < n && !connection; ++i) {
        int iface = findBoardInterface(list[i]);
        if (iface < 0 || pathOf(list[i], iface) != path)
            continue;
        libusb_device_handle* handle = nullptr;
        int r = libusb_open(list[i], &handle);
        if (r != 0) {
            if (r == LIBUSB_ERROR_ACCESS) {
                lastOpenFailure_ = device::OpenFailure::NoPermission;
                base::deviceLog.warning(
                    "cannot open %s: permission denied; install the udev rule (see README) "
                    "and plug the board in again\n",
                    path.c_str());
            } else
                base::deviceLog.warning("cannot open %s: %s\n", path.c_str(), libusb_strerror(r));
            break;
        }
        libusb_set_auto_detach_kernel_driver(handle, 1);
        r = libusb_claim_interface(handle, iface);
        if (r != 0) {
            base::deviceLog.warning("cannot claim %s: %s (is another program using the board?)\n",
                                    path.c_str(), libusb_strerror(r));
            libusb_close(handle);
            break;
        }
        connection = std::make_unique<LibusbConnection>(context_, handle, iface);
        lastOpenFailure_ = device::OpenFailure::None;
    }
    if (list)
        libusb_free_device_list(list, 1);
    return connection;
}

} // namespace tavrin::usb

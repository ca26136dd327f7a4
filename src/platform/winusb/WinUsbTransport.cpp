// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/winusb/WinUsbTransport.h"

#include "base/Diagnostics.h"
#include "base/TextCodec.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

// After the core's headers: windows.h redefines names they use.
#include "platform/winusb/WinUsbSystem.h"

#include <cstring>

namespace tavrin::winusb {

using device::TransferResult;
using device::UsbError;

namespace {

// Bulk reads ask for whole packets only: RAW_IO requires it, and a board can then
// never send more than the buffer holds.
constexpr ULONG kPacket = 512;

GUID boardInterfaceClass() {
    GUID guid;
    static_assert(sizeof guid == sizeof device::kTavrinInterfaceClass.bytes);
    std::memcpy(&guid, device::kTavrinInterfaceClass.bytes.data(), sizeof guid);
    return guid;
}

std::wstring toWide(const std::string& utf8) {
    const std::u16string text = base::utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string toUtf8(const wchar_t* wide) {
    std::u16string text;
    for (; *wide; ++wide)
        text.push_back(static_cast<char16_t>(*wide));
    return base::utf16ToUtf8(text);
}

// The one overlapped read of a pipe. It does not move while the system may write
// to it, so it lives on the heap.
struct AsyncRead {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
    bool outstanding = false; // started, and not yet seen completed
};

class WinUsbConnection final : public device::UsbConnection {
  public:
    WinUsbConnection(WinUsbSystem& system, HANDLE file, WINUSB_INTERFACE_HANDLE usb)
        : system_(system), file_(file), usb_(usb) {}

    ~WinUsbConnection() override {
        // The system writes into an outstanding read's record and buffer until it
        // completes: cancel it and wait for the end before anything is let go.
        for (auto& [pipe, read] : reads_) {
            if (read->outstanding) {
                system_.abortPipe(usb_, pipe);
                DWORD count = 0;
                system_.getOverlappedResult(usb_, &read->overlapped, &count, TRUE);
                read->outstanding = false;
            }
        }
        system_.free(usb_);
        for (auto& entry : reads_)
            if (entry.second->event)
                system_.closeHandle(entry.second->event);
        system_.closeHandle(file_);
    }

    bool setPipeTimeout(uint8_t pipe, uint32_t milliseconds) override {
        ULONG value = milliseconds;
        return system_.setPipePolicy(usb_, pipe, PIPE_TRANSFER_TIMEOUT, sizeof value, &value) != FALSE;
    }

    bool setRawIo(uint8_t pipe, bool on) override {
        UCHAR value = on ? 1 : 0;
        return system_.setPipePolicy(usb_, pipe, RAW_IO, sizeof value, &value) != FALSE;
    }

    TransferResult controlTransfer(const device::UsbSetup& s, uint8_t* data) override {
        WINUSB_SETUP_PACKET packet{};
        packet.RequestType = s.requestType;
        packet.Request = s.request;
        packet.Value = s.value;
        packet.Index = s.index;
        packet.Length = s.length;
        ULONG moved = 0;
        if (system_.controlTransfer(usb_, packet, data, s.length, &moved, nullptr))
            return {true, moved, UsbError::None};
        return {false, moved, usbErrorOf(system_.lastError())};
    }

    TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        const ULONG asked = length / kPacket * kPacket;
        ULONG got = 0;
        // Synchronous although the file is overlapped: WinUSB waits for it itself,
        // bounded by the pipe's time-out. What arrived counts even on a time-out.
        if (system_.readPipe(usb_, pipe, buffer, asked, &got, nullptr))
            return {true, got, UsbError::None};
        return {false, got, usbErrorOf(system_.lastError())};
    }

    bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        std::unique_ptr<AsyncRead>& slot = reads_[pipe];
        if (!slot)
            slot = std::make_unique<AsyncRead>();
        AsyncRead& read = *slot;
        if (read.outstanding && stillPending(read))
            return false;
        if (!read.event) {
            // Manual reset, as the overlapped result's wait expects.
            read.event = system_.createEvent(nullptr, TRUE, FALSE, nullptr);
            if (!read.event)
                return false;
        }
        read.overlapped = OVERLAPPED{};
        read.overlapped.hEvent = read.event;
        if (system_.readPipe(usb_, pipe, buffer, length, nullptr, &read.overlapped)) {
            read.outstanding = true; // completed at once; reaped like any other
            return true;
        }
        read.outstanding = system_.lastError() == ERROR_IO_PENDING;
        return read.outstanding;
    }

    bool asyncReadPending(uint8_t pipe) override {
        auto found = reads_.find(pipe);
        if (found == reads_.end() || !found->second->outstanding)
            return false;
        return stillPending(*found->second);
    }

  private:
    // Asks the system without waiting; a read seen ended (whole or failed) is done with.
    bool stillPending(AsyncRead& read) {
        DWORD count = 0;
        if (!system_.getOverlappedResult(usb_, &read.overlapped, &count, FALSE) &&
            system_.lastError() == ERROR_IO_INCOMPLETE)
            return true;
        read.outstanding = false;
        return false;
    }

    WinUsbSystem& system_;
    HANDLE file_;
    WINUSB_INTERFACE_HANDLE usb_;
    std::map<uint8_t, std::unique_ptr<AsyncRead>> reads_;
};

} // namespace

device::UsbError usbErrorOf(unsigned long systemError) {
    switch (systemError) {
    case ERROR_SEM_TIMEOUT:
        return UsbError::Timeout;
    // A board pulled out answers with any of these, depending on where the request was.
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_BAD_COMMAND:
    case ERROR_INVALID_HANDLE:
        return UsbError::Gone;
    default:
        return UsbError::Other;
    }
}

WinUsbTransport::WinUsbTransport() : WinUsbTransport(systemWinUsb()) {}

WinUsbTransport::WinUsbTransport(WinUsbSystem& system) : system_(system) {}

std::vector<std::string> WinUsbTransport::listInterfaces() {
    std::vector<std::string> paths;
    const GUID guid = boardInterfaceClass();
    HDEVINFO set = system_.getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        base::deviceLog.warning("cannot list the board's interfaces: error %lu\n", system_.lastError());
        return paths;
    }
    // One buffer for every detail record, in DWORDs for the record's alignment.
    std::vector<DWORD> buffer;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!system_.enumDeviceInterfaces(set, nullptr, &guid, index, &data))
            break; // ERROR_NO_MORE_ITEMS: that was the last
        DWORD required = 0;
        system_.getDeviceInterfaceDetail(set, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        buffer.assign(required / sizeof(DWORD) + 1, 0);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
        // The size of the fixed part, as the system checks it (8 on 64-bit Windows).
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!system_.getDeviceInterfaceDetail(set, &data, detail, required, nullptr, nullptr)) {
            base::deviceLog.warning("interface %lu of the board's class has no path: error %lu\n", index,
                                    system_.lastError());
            continue;
        }
        paths.push_back(toUtf8(detail->DevicePath));
    }
    system_.destroyDeviceInfoList(set);
    return paths;
}

std::unique_ptr<device::UsbConnection> WinUsbTransport::open(const std::string& path) {
    lastOpenFailure_ = device::OpenFailure::Other;
    HANDLE file = system_.createFile(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = system_.lastError();
        if (error == ERROR_ACCESS_DENIED) {
            lastOpenFailure_ = device::OpenFailure::NoPermission;
            base::deviceLog.warning("cannot open %s: access denied (is another program using the board?)\n",
                                    path.c_str());
        } else {
            base::deviceLog.warning("cannot open %s: error %lu\n", path.c_str(), error);
        }
        return nullptr;
    }
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    if (!system_.initialize(file, &usb)) {
        base::deviceLog.warning("cannot use %s through WinUSB: error %lu (is WinUSB the board's driver?)\n",
                                path.c_str(), system_.lastError());
        system_.closeHandle(file);
        return nullptr;
    }
    lastOpenFailure_ = device::OpenFailure::None;
    return std::make_unique<WinUsbConnection>(system_, file, usb);
}

} // namespace tavrin::winusb

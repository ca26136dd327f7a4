// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// After the core's headers: windows.h redefines names they use.
#include "platform/winusb/WinUsbSystem.h"

namespace tavrin::testing {

// Answers the WinUSB transport's system calls as Windows does on a machine where the
// interfaces of the board's class are some `OtherInterface`s followed by the
// interfaces of `board` (the simulated board, usually), which answers every transfer.
// It checks the arguments the system would refuse, and notes as violations what the
// system would not report but a real program must not do (freeing WinUSB with a read
// outstanding, waiting on a read nobody cancelled, ...).
class FakeWinUsb final : public winusb::WinUsbSystem {
  public:
    struct OtherInterface {
        std::wstring path;
        DWORD createFileError = ERROR_FILE_NOT_FOUND; // 0: opens
        DWORD initializeError = ERROR_NOT_SUPPORTED;  // 0: WinUSB takes it
        bool detailFails = false;                     // SetupAPI has no path for it
    };

    explicit FakeWinUsb(device::UsbTransport& board);
    ~FakeWinUsb() override;
    FakeWinUsb(const FakeWinUsb&) = delete;
    FakeWinUsb& operator=(const FakeWinUsb&) = delete;

    // The board's interface path as SetupAPI gives it.
    static std::wstring pathOf(const std::string& boardPath);

    // Listed before the board's interfaces, in the order added.
    void addInterface(OtherInterface other);
    // The next control transfer or synchronous read fails with `code`, moving nothing.
    void failNextTransfer(DWORD code);

    // --- observations ---
    // The calls made, in order: "CreateFile PATH", "WinUsb_AbortPipe 134", ...
    std::vector<std::string> calls() const;
    std::vector<std::string> violations() const;
    // Device information sets, files, WinUSB handles and events not yet let go.
    int handlesOpen() const;
    // The last PIPE_TRANSFER_TIMEOUT and RAW_IO set on `pipe` (-1: never set).
    long pipeTimeout(UCHAR pipe) const;
    int rawIo(UCHAR pipe) const;
    // Buffer lengths of the synchronous reads on `pipe`.
    std::vector<ULONG> readLengths(UCHAR pipe) const;

    // --- winusb::WinUsbSystem ---
    HDEVINFO getClassDevs(const GUID* interfaceClass, PCWSTR enumerator, HWND parent, DWORD flags) override;
    BOOL enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* interfaceClass, DWORD index,
                              PSP_DEVICE_INTERFACE_DATA data) override;
    BOOL getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                  PDWORD requiredSize, PSP_DEVINFO_DATA info) override;
    BOOL destroyDeviceInfoList(HDEVINFO set) override;
    HANDLE createFile(PCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                      DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL closeHandle(HANDLE handle) override;
    HANDLE createEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                       PCWSTR name) override;
    DWORD lastError() override;
    BOOL initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) override;
    BOOL free(WINUSB_INTERFACE_HANDLE usb) override;
    BOOL setPipePolicy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG policy, ULONG valueLength,
                       PVOID value) override;
    BOOL controlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                         ULONG bufferLength, PULONG transferred, LPOVERLAPPED overlapped) override;
    BOOL readPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG bufferLength,
                  PULONG transferred, LPOVERLAPPED overlapped) override;
    BOOL getOverlappedResult(WINUSB_INTERFACE_HANDLE usb, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override;
    BOOL abortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) override;

  private:
    struct Entry {
        std::wstring path;
        const OtherInterface* other = nullptr; // null: the board's
        std::string boardPath;
    };
    struct InfoSet {
        std::vector<Entry> entries;
    };
    struct File {
        std::wstring path;
        DWORD flags = 0;
        std::unique_ptr<device::UsbConnection> connection; // null: not the board
    };
    struct Usb {
        File* file = nullptr;
    };
    struct Event {
        bool manualReset = false;
    };
    struct PendingRead {
        WINUSB_INTERFACE_HANDLE usb = nullptr;
        UCHAR pipe = 0;
        PUCHAR buffer = nullptr;
        ULONG length = 0;
        bool aborted = false;
    };

    BOOL fail(DWORD code);
    void note(std::string call);
    void violation(std::string what);
    // Under mutex_: the connection behind `usb`, or null.
    device::UsbConnection* connectionLocked(WINUSB_INTERFACE_HANDLE usb);

    device::UsbTransport& board_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<OtherInterface>> others_;
    std::map<InfoSet*, std::unique_ptr<InfoSet>> sets_;
    std::map<File*, std::unique_ptr<File>> files_;
    std::map<Usb*, std::unique_ptr<Usb>> usbs_;
    std::map<Event*, std::unique_ptr<Event>> events_;
    std::map<LPOVERLAPPED, PendingRead> pending_;
    std::map<UCHAR, long> timeouts_;
    std::map<UCHAR, int> rawIo_;
    std::map<UCHAR, std::vector<ULONG>> readLengths_;
    DWORD failNext_ = 0;
    std::vector<std::string> calls_;
    std::vector<std::string> violations_;
};

} // namespace tavrin::testing

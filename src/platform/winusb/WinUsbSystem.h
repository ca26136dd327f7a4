// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Include the core's headers before this one: windows.h defines macros (WM_CLOSE
// among them) that would rewrite the core's names.
#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

namespace tavrin::winusb {

// Every system call the WinUSB transport makes, each under the name of the call it
// stands for and with its arguments. The transport's logic runs against this table,
// so that tests can answer in the system's place without a board.
class WinUsbSystem {
  public:
    virtual ~WinUsbSystem() = default;

    // SetupAPI: the present interfaces of a device interface class.
    virtual HDEVINFO getClassDevs(const GUID* interfaceClass, PCWSTR enumerator, HWND parent,
                                  DWORD flags) = 0;
    virtual BOOL enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* interfaceClass,
                                      DWORD index, PSP_DEVICE_INTERFACE_DATA data) = 0;
    virtual BOOL getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                          PDWORD requiredSize, PSP_DEVINFO_DATA info) = 0;
    virtual BOOL destroyDeviceInfoList(HDEVINFO set) = 0;

    // Kernel.
    virtual HANDLE createFile(PCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
    virtual BOOL closeHandle(HANDLE handle) = 0;
    virtual HANDLE createEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                               PCWSTR name) = 0;
    // GetLastError of the calling thread, after a call above failed.
    virtual DWORD lastError() = 0;

    // WinUSB.
    virtual BOOL initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) = 0;
    virtual BOOL free(WINUSB_INTERFACE_HANDLE usb) = 0;
    virtual BOOL setPipePolicy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG policy, ULONG valueLength,
                               PVOID value) = 0;
    virtual BOOL controlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                                 ULONG bufferLength, PULONG transferred, LPOVERLAPPED overlapped) = 0;
    virtual BOOL readPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG bufferLength,
                          PULONG transferred, LPOVERLAPPED overlapped) = 0;
    virtual BOOL getOverlappedResult(WINUSB_INTERFACE_HANDLE usb, LPOVERLAPPED overlapped,
                                     LPDWORD transferred, BOOL wait) = 0;
    virtual BOOL abortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) = 0;
};

// The system's own calls (setupapi.dll, kernel32.dll, winusb.dll).
WinUsbSystem& systemWinUsb();

} // namespace tavrin::winusb

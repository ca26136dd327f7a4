// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/winusb/WinUsbSystem.h"

namespace tavrin::winusb {

namespace {

// Each entry is the system call of its name, nothing more.
class SystemWinUsb final : public WinUsbSystem {
  public:
    HDEVINFO getClassDevs(const GUID* interfaceClass, PCWSTR enumerator, HWND parent, DWORD flags) override {
        return ::SetupDiGetClassDevsW(interfaceClass, enumerator, parent, flags);
    }
    BOOL enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* interfaceClass, DWORD index,
                              PSP_DEVICE_INTERFACE_DATA data) override {
        return ::SetupDiEnumDeviceInterfaces(set, info, interfaceClass, index, data);
    }
    BOOL getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                  PDWORD requiredSize, PSP_DEVINFO_DATA info) override {
        return ::SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize, requiredSize, info);
    }
    BOOL destroyDeviceInfoList(HDEVINFO set) override { return ::SetupDiDestroyDeviceInfoList(set); }

    HANDLE createFile(PCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                      DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    BOOL closeHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    HANDLE createEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                       PCWSTR name) override {
        return ::CreateEventW(security, manualReset, initialState, name);
    }
    DWORD lastError() override { return ::GetLastError(); }

    BOOL initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) override {
        return ::WinUsb_Initialize(file, usb);
    }
    BOOL free(WINUSB_INTERFACE_HANDLE usb) override { return ::WinUsb_Free(usb); }
    BOOL setPipePolicy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG policy, ULONG valueLength,
                       PVOID value) override {
        return ::WinUsb_SetPipePolicy(usb, pipe, policy, valueLength, value);
    }
    BOOL controlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                         ULONG bufferLength, PULONG transferred, LPOVERLAPPED overlapped) override {
        return ::WinUsb_ControlTransfer(usb, setup, buffer, bufferLength, transferred, overlapped);
    }
    BOOL readPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG bufferLength,
                  PULONG transferred, LPOVERLAPPED overlapped) override {
        return ::WinUsb_ReadPipe(usb, pipe, buffer, bufferLength, transferred, overlapped);
    }
    BOOL getOverlappedResult(WINUSB_INTERFACE_HANDLE usb, LPOVERLAPPED overlapped, LPDWORD transferred,
                             BOOL wait) override {
        return ::WinUsb_GetOverlappedResult(usb, overlapped, transferred, wait);
    }
    BOOL abortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) override { return ::WinUsb_AbortPipe(usb, pipe); }
};

} // namespace

WinUsbSystem& systemWinUsb() {
    static SystemWinUsb system;
    return system;
}

} // namespace tavrin::winusb

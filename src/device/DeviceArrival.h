// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

#include <cstdint>

namespace tavrin::device {

// WM_DEVICECHANGE: wParam is the event, lParam points at a DeviceInterfaceArrival.
constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

// The arrival record: size, type and a reserved word, then the interface class.
// Posted records must stay valid until handled; the watcher posts a constant one.
struct DeviceInterfaceArrival {
    uint32_t size = sizeof(DeviceInterfaceArrival);
    uint32_t deviceType = DBT_DEVTYP_DEVICEINTERFACE;
    uint32_t reserved = 0;
    InterfaceClassId classId{};
};

// The record for an arrival of the board's interface.
inline constexpr DeviceInterfaceArrival kBoardArrival{
    sizeof(DeviceInterfaceArrival), DBT_DEVTYP_DEVICEINTERFACE, 0, kTavrinInterfaceClass};

} // namespace tavrin::device

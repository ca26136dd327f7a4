// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/UsbTransport.h"

#include <functional>

namespace tavrin::device {

// A device interface that appeared while the program runs.
struct DeviceArrival {
    InterfaceClassId interfaceClass{};
};

// The board's interface arriving.
inline constexpr DeviceArrival kBoardArrival{kTavrinInterfaceClass};

// Told of arrivals on the thread that notices them; it must only hand them on
// to the control window's thread.
using ArrivalHandler = std::function<void(const DeviceArrival& arrival)>;

} // namespace tavrin::device

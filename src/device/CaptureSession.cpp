// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/CaptureSession.h"

namespace tavrin::device {

bool switchDevice(CaptureSession& session, const InterfaceClassId* filter) {
    std::lock_guard lock(session.appLock);
    if (UsbDevice* current = session.currentDevice.load())
        current->close();
    const bool opened = session.boardDevice.open(filter);
    session.currentDevice = opened ? static_cast<UsbDevice*>(&session.boardDevice) : &session.nullDevice;
    return opened;
}

} // namespace tavrin::device

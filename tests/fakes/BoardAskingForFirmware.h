// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"
#include "device/FirmwareImage.h"
#include "device/TavrinDevice.h"
#include "device/UsbTransport.h"
#include "fakes/FirmwareTestImage.h"
#include "platform/sim/SimulatedBoard.h"

#include <algorithm>

namespace tavrin::testing {

// A simulated board that reports old firmware (and sends no frames), with the device
// that updates it; a test installs an image and runs the update.
struct BoardAskingForFirmware {
    static sim::SimulatedBoard::Options oldFirmware() {
        sim::SimulatedBoard::Options options;
        options.framesPerSecond = 0;
        options.version = 1;
        return options;
    }
    // Whether the board's memory now holds the synthetic test image as the update writes it.
    bool holdsTheTestImage() const {
        const device::FirmwareWorkingCopy copy = device::makeWorkingCopy(makeFirmwareTestImage());
        const auto memory = board.firmwareMemory();
        return std::equal(copy.bytes.begin(), copy.bytes.end(), memory.begin());
    }

    sim::SimulatedBoard board{oldFirmware()};
    device::NoModifierKeys keys;
    base::MessageLink link;
    device::TavrinDevice device{board, keys, link};
};

} // namespace tavrin::testing

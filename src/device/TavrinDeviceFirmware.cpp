// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware update of the board: TavrinDevice's members that write the firmware
// memory and load the processor.
#include "device/TavrinDevice.h"

#include "base/Diagnostics.h"
#include "device/VendorRequests.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace tavrin::device {

namespace {
constexpr uint32_t kUpdateControlTimeoutMs = 500;
constexpr auto kReadBackLimit = std::chrono::milliseconds(100);
constexpr auto kSettleTime = std::chrono::milliseconds(300);
constexpr int kMaxPageFailures = 5;
constexpr long kProgressStep = 128;
} // namespace

void TavrinDevice::setFirmwareImage(std::span<const uint8_t> container, const ZlibInflater* inflater) {
    firmwareContainer_ = container;
    inflater_ = inflater;
}

int TavrinDevice::updateFirmware(const ProgressCallback& progress) {
    auto report = [&](int perMille) {
        if (progress)
            progress(perMille);
    };
    report(0);
    if (!setControlTimeout(kUpdateControlTimeoutMs))
        return FW_PIPE_TIMEOUT;

    std::vector<uint8_t> image;
    if (!inflateFirmwareImage(firmwareContainer_, inflater_, image)) {
        base::deviceLog.error("Resource load failed\n");
        return FW_RESOURCE;
    }
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    const long total = static_cast<long>(copy.total);

    // An image that would not restart the processor, or whose records cannot all be
    // stored, is refused before the firmware memory is touched: writing it would only
    // replace working firmware with a broken one.
    if (!walkFirmwareRecords(copy.content()).usable()) {
        base::deviceLog.error("fwUpload fail\n");
        return FW_UPLOAD;
    }

    // From the last page to the first, so the header page at offset 0 goes in last.
    long p = (total - 1) & ~static_cast<long>(kFirmwarePageBytes - 1);
    int failures = 0;
    while (p >= 0) {
        if (pageProgramVerify(static_cast<uint16_t>(p), copy.bytes.data() + p)) {
            p -= static_cast<long>(kFirmwarePageBytes);
            failures = 0;
        } else {
            ++failures;
            base::deviceLog.warning("retry %d\n", failures);
        }
        if (p >= 0 && p % kProgressStep == 0)
            report(static_cast<int>(static_cast<unsigned long>(total - p) * 1000u /
                                    static_cast<unsigned long>(total)));
        if (failures >= kMaxPageFailures) {
            base::deviceLog.error("pageProgramVerify failed\n");
            return FW_PAGE_PROGRAM;
        }
    }

    if (!cpuReset()) {
        base::deviceLog.error("cpuReset fail\n");
        return FW_CPU_RESET;
    }
    if (!fwUpload(copy)) {
        base::deviceLog.error("fwUpload fail\n");
        return FW_UPLOAD;
    }
    std::this_thread::sleep_for(kSettleTime); // the new firmware starts up
    if (!usbDisconnect()) {
        base::deviceLog.error("usbDisconnect fail\n");
        return FW_DISCONNECT;
    }
    close();
    return FW_OK;
}

bool TavrinDevice::pageProgramVerify(uint16_t address, const uint8_t* data) {
    uint8_t page[2 + kFirmwarePageBytes];
    page[0] = static_cast<uint8_t>(address >> 8);
    page[1] = static_cast<uint8_t>(address & 0xFF);
    std::memcpy(page + 2, data, kFirmwarePageBytes);
    if (!controlOut(kRequestOutMemory, kFirmwareMemory, sizeof page, page)) {
        base::deviceLog.error("write fail\n");
        return false;
    }

    // The board answers read-backs only once the page is programmed.
    uint8_t readBack[kFirmwarePageBytes];
    const auto noted = std::chrono::steady_clock::now();
    while (!memoryRead(address, kFirmwarePageBytes, readBack)) {
        if (std::chrono::steady_clock::now() - noted >= kReadBackLimit) {
            base::deviceLog.warning("timeout\n");
            return false;
        }
    }
    return std::memcmp(readBack, data, kFirmwarePageBytes) == 0;
}

bool TavrinDevice::cpuReset() {
    const uint8_t hold = 1;
    return controlOut(kRequestOutCpuMemory, kCpuResetRegister, 1, &hold);
}

bool TavrinDevice::fwUpload(const FirmwareWorkingCopy& copy) {
    const FirmwareRecordWalk walk = walkFirmwareRecords(copy.content());
    if (!walk.recordsFitAddressSpace)
        return false;
    for (const FirmwareRecord& record : walk.records) {
        // A long record goes as consecutive transfers at consecutive addresses. A record
        // that does not arrive whole ends the update: a partial program must not run.
        std::size_t done = 0;
        do {
            const std::size_t chunk = std::min<std::size_t>(kMaxControlTransferBytes, record.length - done);
            if (!controlOut(kRequestOutCpuMemory, static_cast<uint16_t>(record.address + done),
                            static_cast<uint32_t>(chunk), copy.bytes.data() + record.offset + 4 + done)) {
                base::deviceLog.error("record at %zu not stored\n", record.offset);
                return false;
            }
            done += chunk;
        } while (done < record.length);
    }
    return walk.endsAtResetRegister;
}

bool TavrinDevice::usbDisconnect() {
    return controlOut(kRequestOutDisconnect, 0, 0, nullptr);
}

} // namespace tavrin::device

// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware container and the record walk over untrusted bytes: the input is tried
// as a zlib container (inflated by lodepng, as the program does) and also taken as an
// already inflated image. The walk must stay inside the working copy either way.
#include "device/FirmwareImage.h"
#include "platform/firmware/LodepngInflater.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

void checkWalk(std::span<const uint8_t> image) {
    using namespace tavrin::device;
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    if (copy.total != image.size() + kFirmwareTrailerBytes || copy.bytes.size() % kFirmwarePageBytes != 0 ||
        copy.bytes.size() < copy.total || copy.bytes.size() >= copy.total + kFirmwarePageBytes)
        __builtin_trap();
    const FirmwareRecordWalk walk = walkFirmwareRecords(copy.content());
    std::size_t previous = 0;
    for (const FirmwareRecord& r : walk.records) {
        if (r.offset < kFirmwareHeaderBytes || r.offset >= kFirmwareWalkLimit ||
            r.offset + 4 + r.length > copy.total)
            __builtin_trap();
        if (previous && r.offset <= previous)
            __builtin_trap();
        previous = r.offset;
    }
    if (walk.endsAtResetRegister !=
        (!walk.records.empty() && walk.records.back().address == kCpuResetRegister))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::span<const uint8_t> input(data, size);
    if (size <= tavrin::device::kMaxFirmwareImageBytes)
        checkWalk(input);

    static const tavrin::firmware::LodepngInflater inflater;
    std::vector<uint8_t> image;
    if (tavrin::device::inflateFirmwareImage(input, &inflater, image)) {
        if (image.size() > tavrin::device::kMaxFirmwareImageBytes)
            __builtin_trap();
        checkWalk(image);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Checks a firmware container before it is built into the program with
// -DTAVRIN_FIRMWARE_IMAGE: inflates it as the program does and lists its records.
// Exit code 0 when the program could write it to a board, 1 otherwise.
#include "device/FirmwareImage.h"
#include "platform/firmware/LodepngInflater.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

using namespace tavrin::device;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <firmware.zlib>\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> container((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    const tavrin::firmware::LodepngInflater inflater;
    std::vector<uint8_t> image;
    if (!inflateFirmwareImage(container, &inflater, image)) {
        std::printf("%s: not a zlib stream with a matching Adler-32, or larger than %zu bytes inflated\n",
                    argv[1], kMaxFirmwareImageBytes);
        return 1;
    }
    const FirmwareWorkingCopy copy = makeWorkingCopy(image);
    std::printf("container %zu bytes, image %zu bytes, written as %zu bytes (%zu pages)\n", container.size(),
                image.size(), copy.total, copy.bytes.size() / kFirmwarePageBytes);
    std::printf("header:");
    for (std::size_t i = 0; i < kFirmwareHeaderBytes && i < image.size(); ++i)
        std::printf(" %02X", image[i]);
    std::printf("\n");
    const FirmwareRecordWalk walk = walkFirmwareRecords(copy.content());
    for (const FirmwareRecord& r : walk.records) {
        const std::size_t transfers =
            r.length == 0 ? 1 : (r.length + kMaxControlTransferBytes - 1) / kMaxControlTransferBytes;
        std::printf("record at %5zu: %4u bytes to 0x%04X in %zu transfer%s%s\n", r.offset,
                    static_cast<unsigned>(r.length), static_cast<unsigned>(r.address), transfers,
                    transfers == 1 ? "" : "s",
                    std::size_t{r.address} + r.length > kFirmwareMemoryBytes
                        ? ", past the end of the processor's memory"
                        : "");
    }
    if (!walk.recordsFitAddressSpace) {
        std::printf("a record reaches past address 0xFFFF: the update would fail (133)\n");
        return 1;
    }
    if (!walk.endsAtResetRegister) {
        std::printf("the records do not end with one addressed to 0x%04X: the update would fail (133)\n",
                    static_cast<unsigned>(kCpuResetRegister));
        return 1;
    }
    std::printf("usable\n");
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the synthetic test image (tests/fakes/FirmwareTestImage.h) as a zlib stream
// with zlib itself, for a test program that carries it as its firmware resource.
#include "fakes/FirmwareTestImage.h"

#include <cstdio>
#include <vector>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.zlib>\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> image = tavrin::testing::makeFirmwareTestImage();
    uLongf size = compressBound(static_cast<uLong>(image.size()));
    std::vector<uint8_t> stream(size);
    if (compress2(stream.data(), &size, image.data(), static_cast<uLong>(image.size()), 9) != Z_OK) {
        std::fprintf(stderr, "compression failed\n");
        return 1;
    }
    FILE* out = std::fopen(argv[1], "wb");
    const bool ok = out && std::fwrite(stream.data(), 1, size, out) == size;
    if (out)
        std::fclose(out);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

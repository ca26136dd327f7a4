// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the synthetic test image (see tests/fakes/FirmwareTestImage.h) as a zlib
// stream, so the embedding path can be tested without any real firmware.
#include "fakes/FirmwareTestImage.h"

#include <cstdio>
#include <cstdlib>
#include <lodepng.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.zlib>\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> image = tavrin::testing::makeFirmwareTestImage();
    unsigned char* stream = nullptr;
    std::size_t size = 0;
    if (lodepng_zlib_compress(&stream, &size, image.data(), image.size(),
                              &lodepng_default_compress_settings)) {
        std::fprintf(stderr, "compression failed\n");
        return 1;
    }
    FILE* out = std::fopen(argv[1], "wb");
    const bool ok = out && std::fwrite(stream, 1, size, out) == size;
    if (out)
        std::fclose(out);
    std::free(stream);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/png/LodePngEncoder.h"

#include <lodepng.h>

#include <cstdlib>
#include <memory>

namespace tavrin::png {

namespace {
struct MallocFree {
    void operator()(unsigned char* p) const { std::free(p); }
};
} // namespace

unsigned LodePngEncoder::encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                                   std::vector<uint8_t>& png) {
    unsigned char* raw = nullptr;
    std::size_t size = 0;
    const unsigned error = lodepng_encode_memory(&raw, &size, pixels, width, height, LCT_RGB, 8);
    // lodepng allocates with malloc; the buffer goes on every path.
    std::unique_ptr<unsigned char, MallocFree> out(raw);
    if (error == 0)
        png.assign(out.get(), out.get() + size);
    return error;
}

} // namespace tavrin::png

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/firmware/LodepngInflater.h"

#include <cstdlib>
#include <lodepng.h>

namespace tavrin::firmware {

bool LodepngInflater::inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                              std::vector<uint8_t>& out) const {
    out.clear();
    LodePNGDecompressSettings settings;
    lodepng_decompress_settings_init(&settings);
    settings.ignore_adler32 = 0;
    // Stops a stream that would inflate far beyond what can be used (0 would mean no limit).
    settings.max_output_size = maxOutput > 0 ? maxOutput : 1;

    unsigned char* inflated = nullptr;
    std::size_t size = 0;
    const unsigned error = lodepng_zlib_decompress(&inflated, &size, stream.data(), stream.size(), &settings);
    const bool ok = error == 0 && size <= maxOutput;
    if (ok)
        out.assign(inflated, inflated + size);
    std::free(inflated);
    return ok;
}

} // namespace tavrin::firmware

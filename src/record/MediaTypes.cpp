// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MediaTypes.h"

#include <cstdlib>

namespace tavrin::record {

uint32_t bitmapSizeImage(const BITMAPINFOHEADER& header) {
    const uint64_t rowBits = static_cast<uint64_t>(std::llabs(header.biWidth)) * header.biBitCount;
    const uint64_t rowBytes = ((rowBits + 31) / 32) * 4;
    return static_cast<uint32_t>(rowBytes * static_cast<uint64_t>(std::llabs(header.biHeight)));
}

} // namespace tavrin::record

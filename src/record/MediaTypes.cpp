// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MediaTypes.h"

#include <cstdio>
#include <cstdlib>

namespace tavrin::record {

uint32_t bitmapSizeImage(const BITMAPINFOHEADER& header) {
    const uint64_t rowBits = static_cast<uint64_t>(std::llabs(header.biWidth)) * header.biBitCount;
    const uint64_t rowBytes = ((rowBits + 31) / 32) * 4;
    return static_cast<uint32_t>(rowBytes * static_cast<uint64_t>(std::llabs(header.biHeight)));
}

std::string guidToString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

} // namespace tavrin::record

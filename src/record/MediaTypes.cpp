// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/MediaTypes.h"

#include <cerrno>
#include <cstdlib>

namespace tavrin::record {

uint32_t bitmapSizeImage(const BITMAPINFOHEADER& header) {
    const uint64_t rowBits = static_cast<uint64_t>(std::llabs(header.biWidth)) * header.biBitCount;
    const uint64_t rowBytes = ((rowBits + 31) / 32) * 4;
    return static_cast<uint32_t>(rowBytes * static_cast<uint64_t>(std::llabs(header.biHeight)));
}

HRESULT statusOf(const base::Error& error) {
    if (!error)
        return S_OK;
    if (error.kind == base::Error::Kind::Status)
        return error.code;
    if (error.kind == base::Error::Kind::System && error.code == ENOSPC)
        return E_DISK_FULL;
#ifdef EDQUOT
    if (error.kind == base::Error::Kind::System && error.code == EDQUOT)
        return E_DISK_FULL;
#endif
    if (error.kind == base::Error::Kind::System && error.code == ENOMEM)
        return E_OUTOFMEMORY;
    return E_FAIL;
}

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32Firmware.h"

#include <windows.h>
#include <zlib.h>

namespace tavrin::win32 {

bool ZlibStreamInflater::inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                                 std::vector<uint8_t>& out) const {
    out.clear();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) // zlib format: header and Adler-32 trailer checked
        return false;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    // One byte of room beyond the limit tells a stream that is too long from one that fits.
    std::vector<uint8_t> buffer(maxOutput + 1);
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    const int result = ::inflate(&z, Z_FINISH);
    const std::size_t size = buffer.size() - z.avail_out;
    inflateEnd(&z);
    if (result != Z_STREAM_END || size > maxOutput)
        return false;
    buffer.resize(size);
    out = std::move(buffer);
    return true;
}

std::span<const uint8_t> firmwareResource() {
    HRSRC found =
        ::FindResourceW(nullptr, MAKEINTRESOURCEW(kFirmwareResource), MAKEINTRESOURCEW(10)); // RCDATA
    if (!found)
        return {};
    HGLOBAL loaded = ::LoadResource(nullptr, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return {static_cast<const uint8_t*>(bytes), ::SizeofResource(nullptr, found)};
}

void installFirmwareResource(device::TavrinDevice& board) {
    static const ZlibStreamInflater inflater;
    board.setFirmwareImage(firmwareResource(), &inflater);
}

} // namespace tavrin::win32

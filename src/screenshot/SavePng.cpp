// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/SavePng.h"

#include "base/FileWrite.h"
#include "base/Os.h"

#include <vector>

namespace tavrin::screenshot {

int savePng(PngEncoder& encoder, const std::string& path, const uint8_t* pixels, int width, int height) {
    if (width <= 0 || height <= 0)
        return kPngFileError;
    std::vector<uint8_t> png;
    const unsigned error =
        encoder.encodeRgb(pixels, static_cast<unsigned>(width), static_cast<unsigned>(height), png);
    if (error != 0)
        return static_cast<int>(error);

    const int fd = base::os::createNewFile(path);
    if (fd < 0)
        return kPngFileError;
    const bool written = base::writeAll(fd, png.data(), png.size());
    const bool closed = base::os::closeFile(fd) == 0;
    if (!written || !closed) {
        // A truncated picture is worse than none: the status line says it failed.
        base::os::removeFile(path);
        return kPngFileError;
    }
    return 0;
}

} // namespace tavrin::screenshot

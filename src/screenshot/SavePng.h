// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "screenshot/PngEncoder.h"

#include <cstdint>
#include <string>

namespace tavrin::screenshot {

// The result when the file cannot be created or written (lodepng's own number for it).
constexpr int kPngFileError = 79;

// Encodes the RGB picture and writes it to `path` as a new file. Returns 0, the
// encoder's error number, or kPngFileError. The file is created exclusively:
// a name that exists (even as a dangling link) is never written through, and a
// file that could not be written completely is removed again.
int savePng(PngEncoder& encoder, const std::string& path, const uint8_t* pixels, int width, int height);

} // namespace tavrin::screenshot

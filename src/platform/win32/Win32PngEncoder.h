// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "screenshot/PngEncoder.h"

namespace tavrin::win32 {

// PNG encoding with the Windows Imaging Component's encoder (lodepng is packaged for
// Linux only, as a shared library without its source): 8 bits a channel, RGB, no
// alpha, as the Linux build writes them. Each call joins the component runtime on
// its own thread, so that screenshot workers can encode side by side.
class Win32PngEncoder final : public screenshot::PngEncoder {
  public:
    // 0, or the failing call's HRESULT as an unsigned number.
    unsigned encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                       std::vector<uint8_t>& png) override;
};

} // namespace tavrin::win32

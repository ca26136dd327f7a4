// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"

#include <cstdint>

namespace tavrin::display {

// A 6-bit value widened to 8 bits, repeating its top bits at the bottom.
constexpr uint8_t expand6(uint32_t v) {
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}

// One pixel word as the image's 4 bytes (B, G, R, 0) read as a little-endian
// 32-bit value. Green has six lines; blue and red have five and take G0 as their
// lowest bit.
constexpr uint32_t convertPixel(uint16_t w) {
    const uint32_t g6 = (w >> 5) & 0x3F;
    const uint32_t b6 = ((w & 0x1Fu) << 1) | (g6 & 1);
    const uint32_t r6 = ((static_cast<uint32_t>(w) >> 11) << 1) | (g6 & 1);
    return expand6(b6) | static_cast<uint32_t>(expand6(g6)) << 8 | static_cast<uint32_t>(expand6(r6)) << 16;
}

// Interchangeable implementations of the pixel loops, byte-identical in output.
enum class ConversionKernel {
    Reference, // one byte store per colour, exactly as the format is described
    Portable,  // 128-bit vectors through the compiler's vector extensions, any processor
    Avx2,      // hand-written AVX2; only where the processor has it
};
bool kernelAvailable(ConversionKernel kernel);
// The fastest kernel this processor runs.
ConversionKernel bestKernel();

// Dual-screen layout (6): word 1 of each pair to the top picture (image rows 0
// to 191), word 0 to the bottom picture (rows 192 to 383). `image` holds
// 256 x 384 pixels.
void convertDualScreen(const uint8_t* data, uint8_t* image, ConversionKernel kernel = bestKernel());

// Single-screen layout (7): the 240 x 160 picture in board rows 16 to 175, pairs
// 8 to 247, from word 0 of each pair, or from word 1 when the buffer's very first
// word is 0xFFFF. `image` holds 240 x 160 pixels.
void convertSingleScreen(const uint8_t* data, uint8_t* image, ConversionKernel kernel = bestKernel());

// Builds frame.image for layout `layoutId`. The image is reallocated and
// zero-filled only when the frame was last built for another layout; a reserved
// or unknown layout leaves it black. False when the image could not be
// allocated (the frame is then left with no image and no layout).
bool convertFrame(device::CaptureFrame& frame, int32_t layoutId);

} // namespace tavrin::display

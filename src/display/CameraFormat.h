// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/CameraPicture.h"

#include <cstddef>
#include <cstdint>

namespace tavrin::display {

// The pixel formats the camera offers, in the order it prefers them. Each reader
// chooses one: BGRx is the composed picture itself (exact pixels for GStreamer and
// OBS), BGRA the same with opaque alpha, I420 what browsers and call programs take.
enum class CameraFormat { Bgrx, Bgra, I420 };

inline constexpr CameraFormat kCameraFormats[] = {CameraFormat::Bgrx, CameraFormat::Bgra, CameraFormat::I420};

const char* cameraFormatName(CameraFormat format);

// Where a picture of `canvas` lies in one buffer of `format`. I420 is packed as
// browsers read a single buffer: the Y plane (stride = width), then U and V, each
// ceil(width / 2) wide and ceil(height / 2) high, rows without padding.
struct CameraBufferLayout {
    std::size_t stride = 0; // the first plane's
    std::size_t bytes = 0;  // the whole picture
    std::size_t chromaStride = 0;
    std::size_t uOffset = 0;
    std::size_t vOffset = 0;
};
CameraBufferLayout cameraBufferLayout(CameraFormat format, const CameraCanvas& canvas);

// BT.601, limited range (Y 16..235, U and V 16..240 around 128), as webcams send
// and browsers expect of a camera. One pixel's luma, and the chroma of the sums
// of `count` pixels' colours (1 to 4): the average's, rounded.
uint8_t lumaBt601(uint32_t r, uint32_t g, uint32_t b);
uint8_t chromaUBt601(uint32_t sumR, uint32_t sumG, uint32_t sumB, uint32_t count);
uint8_t chromaVBt601(uint32_t sumR, uint32_t sumG, uint32_t sumB, uint32_t count);

// The BGRx picture `bgrx` (canvas.height rows `bgrxStride` bytes apart) as I420 in
// `out`, laid out by cameraBufferLayout. Each U and V sample is that of the average
// colour of its 2 x 2 block (of the pixels there are, at an odd edge).
void bgrxToI420(const uint8_t* bgrx, std::size_t bgrxStride, const CameraCanvas& canvas, uint8_t* out);

// Makes every fourth byte (the X of BGRx) 255: an opaque BGRA picture in place.
void makeOpaque(uint8_t* bgrx, std::size_t stride, const CameraCanvas& canvas);

} // namespace tavrin::display

// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/CameraFormat.h"

#include <cstring>

namespace tavrin::display {

namespace {

// BT.601's weights (Kr 0.299, Kb 0.114) scaled to the limited range (219 steps of
// luma, 224 of chroma) and to 8-bit colours, in units of 2^-16. Each chroma row sums
// to zero, so grey has U = V = 128 exactly.
constexpr int32_t kYR = 16829, kYG = 33038, kYB = 6416;
constexpr int32_t kUR = -9714, kUG = -19070, kUB = 28784;
constexpr int32_t kVR = 28784, kVG = -24103, kVB = -4681;
static_assert(kUR + kUG + kUB == 0 && kVR + kVG + kVB == 0);

// count 1, 2 or 4 pixels: the extra shift that averages their sum.
constexpr int averagingShift(uint32_t count) {
    return count >= 4 ? 2 : count >= 2 ? 1 : 0;
}

uint8_t chroma(int32_t kr, int32_t kg, int32_t kb, uint32_t r, uint32_t g, uint32_t b, uint32_t count) {
    const int shift = 16 + averagingShift(count);
    const int32_t v =
        kr * static_cast<int32_t>(r) + kg * static_cast<int32_t>(g) + kb * static_cast<int32_t>(b);
    // An arithmetic shift rounds towards minus infinity; the half added first makes it round to nearest.
    return static_cast<uint8_t>(128 + ((v + (int32_t{1} << (shift - 1))) >> shift));
}

} // namespace

const char* cameraFormatName(CameraFormat format) {
    switch (format) {
    case CameraFormat::Bgrx:
        return "BGRx";
    case CameraFormat::Bgra:
        return "BGRA";
    case CameraFormat::I420:
        return "I420";
    }
    return "?";
}

CameraBufferLayout cameraBufferLayout(CameraFormat format, const CameraCanvas& canvas) {
    CameraBufferLayout l;
    if (format != CameraFormat::I420) {
        l.stride = canvas.stride();
        l.bytes = canvas.bytes();
        return l;
    }
    const auto w = static_cast<std::size_t>(canvas.width);
    const auto h = static_cast<std::size_t>(canvas.height);
    l.stride = w;
    l.chromaStride = (w + 1) / 2;
    const std::size_t chromaRows = (h + 1) / 2;
    l.uOffset = w * h;
    l.vOffset = l.uOffset + l.chromaStride * chromaRows;
    l.bytes = l.vOffset + l.chromaStride * chromaRows;
    return l;
}

uint8_t lumaBt601(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint8_t>(16 + ((kYR * static_cast<int32_t>(r) + kYG * static_cast<int32_t>(g) +
                                       kYB * static_cast<int32_t>(b) + (1 << 15)) >>
                                      16));
}

uint8_t chromaUBt601(uint32_t sumR, uint32_t sumG, uint32_t sumB, uint32_t count) {
    return chroma(kUR, kUG, kUB, sumR, sumG, sumB, count);
}

uint8_t chromaVBt601(uint32_t sumR, uint32_t sumG, uint32_t sumB, uint32_t count) {
    return chroma(kVR, kVG, kVB, sumR, sumG, sumB, count);
}

namespace {

// One pixel read as a little-endian word (B, G, R, X): loads GCC vectorises, unlike
// three byte loads four bytes apart.
constexpr int32_t kGroup = 8;

uint32_t pixelAt(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

void bgrxToI420(const uint8_t* bgrx, std::size_t bgrxStride, const CameraCanvas& canvas, uint8_t* out) {
    const CameraBufferLayout l = cameraBufferLayout(CameraFormat::I420, canvas);
    const int32_t w = canvas.width, h = canvas.height;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = bgrx + static_cast<std::size_t>(y) * bgrxStride;
        uint8_t* dst = out + static_cast<std::size_t>(y) * l.stride;
        const auto luma = [&](int32_t x) {
            const uint32_t p = pixelAt(src + static_cast<std::size_t>(x) * 4);
            const auto b = static_cast<int32_t>(p & 0xFF), g = static_cast<int32_t>((p >> 8) & 0xFF),
                       r = static_cast<int32_t>((p >> 16) & 0xFF);
            dst[x] = static_cast<uint8_t>(16 + ((kYR * r + kYG * g + kYB * b + (1 << 15)) >> 16));
        };
        // Groups of a fixed count, which GCC vectorises at -O2, then the rest.
        int32_t x = 0;
        for (; x + kGroup <= w; x += kGroup)
            for (int32_t k = 0; k < kGroup; ++k)
                luma(x + k);
        for (; x < w; ++x)
            luma(x);
    }
    for (int32_t cy = 0; cy < (h + 1) / 2; ++cy) {
        const uint8_t* top = bgrx + static_cast<std::size_t>(2 * cy) * bgrxStride;
        const bool twoRows = 2 * cy + 1 < h;
        const uint8_t* bottom = twoRows ? top + bgrxStride : top;
        uint8_t* u = out + l.uOffset + static_cast<std::size_t>(cy) * l.chromaStride;
        uint8_t* v = out + l.vOffset + static_cast<std::size_t>(cy) * l.chromaStride;
        for (int32_t cx = 0; cx < (w + 1) / 2; ++cx) {
            const std::size_t a = static_cast<std::size_t>(cx) * 8;
            const bool twoColumns = 2 * cx + 1 < w;
            const std::size_t b = twoColumns ? a + 4 : a;
            // At an odd edge the missing pixels are the present ones again: the same average.
            const uint32_t p0 = pixelAt(top + a), p1 = pixelAt(top + b), p2 = pixelAt(bottom + a),
                           p3 = pixelAt(bottom + b);
            // Byte lanes summed in 16-bit halves: B and R in one word, G in another.
            const uint32_t br = (p0 & 0xFF00FF) + (p1 & 0xFF00FF) + (p2 & 0xFF00FF) + (p3 & 0xFF00FF);
            const uint32_t sg =
                ((p0 >> 8) & 0xFF) + ((p1 >> 8) & 0xFF) + ((p2 >> 8) & 0xFF) + ((p3 >> 8) & 0xFF);
            const uint32_t sb = br & 0xFFFF, sr = br >> 16;
            u[cx] = chromaUBt601(sr, sg, sb, 4);
            v[cx] = chromaVBt601(sr, sg, sb, 4);
        }
    }
}

void makeOpaque(uint8_t* bgrx, std::size_t stride, const CameraCanvas& canvas) {
    for (int32_t y = 0; y < canvas.height; ++y) {
        uint8_t* row = bgrx + static_cast<std::size_t>(y) * stride;
        const auto opaque = [&](int32_t x) {
            uint8_t* p = row + static_cast<std::size_t>(x) * 4;
            const uint32_t v = pixelAt(p) | 0xFF000000u;
            std::memcpy(p, &v, 4);
        };
        int32_t x = 0;
        for (; x + kGroup <= canvas.width; x += kGroup)
            for (int32_t k = 0; k < kGroup; ++k)
                opaque(x + k);
        for (; x < canvas.width; ++x)
            opaque(x);
    }
}

} // namespace tavrin::display

// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/FrameConversion.h"

#include "device/ScreenLayout.h"

#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAVRIN_HAVE_AVX2_KERNEL 1
#endif

namespace tavrin::display {

namespace {

constexpr int kBoardRows = 192;
constexpr int kPairsPerRow = 256;
constexpr std::size_t kBoardRowBytes = kPairsPerRow * 4;
constexpr int kDualBottomOffset = kBoardRows * kPairsPerRow; // pixels

constexpr int kSingleWidth = 240;
constexpr int kSingleHeight = 160;
constexpr int kSingleFirstRow = 16;
constexpr int kSingleFirstPair = 8;

uint16_t loadWord(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Single-screen layout: which word of each pair carries the picture.
int singleScreenWord(const uint8_t* data) {
    return loadWord(data) == 0xFFFF ? 1 : 0;
}

// --- Reference: byte by byte, as the format is described ---

void writeReferencePixel(uint8_t* image, std::size_t pixel, uint16_t w) {
    const uint32_t g6 = (w >> 5) & 0x3F;
    const uint32_t b6 = ((w & 0x1Fu) << 1) | (g6 & 1);
    const uint32_t r6 = ((static_cast<uint32_t>(w) >> 11) & 0x1F) << 1 | (g6 & 1);
    uint8_t* p = image + 4 * pixel;
    p[0] = expand6(b6);
    p[1] = expand6(g6);
    p[2] = expand6(r6);
}

void dualReference(const uint8_t* data, uint8_t* image) {
    for (int r = 0; r < kBoardRows; ++r) {
        for (int p = 0; p < kPairsPerRow; ++p) {
            const uint8_t* pair = data + r * kBoardRowBytes + 4 * p;
            writeReferencePixel(image, static_cast<std::size_t>(r * kPairsPerRow + p), loadWord(pair + 2));
            writeReferencePixel(image, static_cast<std::size_t>(kDualBottomOffset + r * kPairsPerRow + p),
                                loadWord(pair));
        }
    }
}

void singleReference(const uint8_t* data, uint8_t* image) {
    const int word = singleScreenWord(data);
    for (int y = 0; y < kSingleHeight; ++y) {
        for (int x = 0; x < kSingleWidth; ++x) {
            const uint8_t* pair = data + (kSingleFirstRow + y) * kBoardRowBytes + 4 * (kSingleFirstPair + x);
            writeReferencePixel(image, static_cast<std::size_t>(y * kSingleWidth + x),
                                loadWord(pair + 2 * word));
        }
    }
}

// --- Portable: four pairs at a time in 128-bit vectors (SSE2 on x86-64, NEON
// on ARM), written with the compilers' vector extensions ---

using U16x8 = uint16_t __attribute__((vector_size(16)));
using U32x4 = uint32_t __attribute__((vector_size(16)));

struct PortableHalves {
    U32x4 top;    // the four word-1 pixels
    U32x4 bottom; // the four word-0 pixels
};

// Works in 16-bit lanes: blue and green go into one lane (B | G << 8), red into
// another; seen as 32-bit lanes, word 1 is the upper half of each pair and
// word 0 the lower, so two masks and shifts give B, G, R, 0 for each.
inline PortableHalves convertFourPairs(const uint8_t* src) {
    U16x8 v;
    std::memcpy(&v, src, sizeof v);
    const U16x8 g6 = (v >> 5) & 0x3F;
    const U16x8 g0 = g6 & 1;
    const U16x8 b6 = ((v & 0x1F) << 1) | g0;
    const U16x8 r6 = ((v >> 11) << 1) | g0;
    const auto expand = [](U16x8 x) -> U16x8 { return (x << 2) | (x >> 4); };
    const auto bg = reinterpret_cast<U32x4>(expand(b6) | (expand(g6) << 8));
    const auto r = reinterpret_cast<U32x4>(expand(r6));
    return {(bg >> 16) | (r & 0xFFFF0000u), (bg & 0xFFFFu) | (r << 16)};
}

void dualPortable(const uint8_t* data, uint8_t* image) {
    for (int r = 0; r < kBoardRows; ++r) {
        const uint8_t* row = data + r * kBoardRowBytes;
        uint8_t* top = image + 4 * static_cast<std::size_t>(r * kPairsPerRow);
        uint8_t* bottom = image + 4 * static_cast<std::size_t>(kDualBottomOffset + r * kPairsPerRow);
        for (int k = 0; k < kPairsPerRow / 4; ++k) {
            const PortableHalves px = convertFourPairs(row + 16 * k);
            std::memcpy(top + 16 * k, &px.top, 16);
            std::memcpy(bottom + 16 * k, &px.bottom, 16);
        }
    }
}

void singlePortable(const uint8_t* data, uint8_t* image) {
    const bool fromTop = singleScreenWord(data) == 1;
    for (int y = 0; y < kSingleHeight; ++y) {
        const uint8_t* row = data + (kSingleFirstRow + y) * kBoardRowBytes + 4 * kSingleFirstPair;
        uint8_t* out = image + 4 * static_cast<std::size_t>(y * kSingleWidth);
        for (int k = 0; k < kSingleWidth / 4; ++k) {
            const PortableHalves px = convertFourPairs(row + 16 * k);
            std::memcpy(out + 16 * k, fromTop ? &px.top : &px.bottom, 16);
        }
    }
}

// --- AVX2: eight pairs at a time ---

#ifdef TAVRIN_HAVE_AVX2_KERNEL

struct PixelHalves {
    __m256i top;    // the eight word-1 pixels
    __m256i bottom; // the eight word-0 pixels
};

// expand6 in each 16-bit lane.
__attribute__((target("avx2"))) inline __m256i expand6Lanes(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi16(x, 2), _mm256_srli_epi16(x, 4));
}

// Converts 16 words (8 pairs) in 16-bit lanes: blue and green go into one lane
// (B | G << 8), red into another; a blend per 32-bit lane then puts together
// B, G, R, 0 for word 1 (top) and for word 0 (bottom) without crossing lanes.
__attribute__((target("avx2"))) inline PixelHalves convertEightPairs(const uint8_t* src) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i mask3F = _mm256_set1_epi16(0x3F);
    const __m256i mask1F = _mm256_set1_epi16(0x1F);
    const __m256i one = _mm256_set1_epi16(1);

    const __m256i g6 = _mm256_and_si256(_mm256_srli_epi16(v, 5), mask3F);
    const __m256i g0 = _mm256_and_si256(g6, one);
    const __m256i b6 = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v, mask1F), 1), g0);
    const __m256i r6 = _mm256_or_si256(_mm256_slli_epi16(_mm256_srli_epi16(v, 11), 1), g0);
    const __m256i bg = _mm256_or_si256(expand6Lanes(b6), _mm256_slli_epi16(expand6Lanes(g6), 8));
    const __m256i r = expand6Lanes(r6);

    return {_mm256_blend_epi16(_mm256_srli_epi32(bg, 16), r, 0xAA),
            _mm256_blend_epi16(bg, _mm256_slli_epi32(r, 16), 0xAA)};
}

__attribute__((target("avx2"))) void dualAvx2(const uint8_t* data, uint8_t* image) {
    for (int r = 0; r < kBoardRows; ++r) {
        const uint8_t* row = data + r * kBoardRowBytes;
        auto* top = reinterpret_cast<__m256i*>(image + 4 * static_cast<std::size_t>(r * kPairsPerRow));
        auto* bottom = reinterpret_cast<__m256i*>(
            image + 4 * static_cast<std::size_t>(kDualBottomOffset + r * kPairsPerRow));
        for (int k = 0; k < kPairsPerRow / 8; ++k) {
            const PixelHalves px = convertEightPairs(row + 32 * k);
            _mm256_storeu_si256(top + k, px.top);
            _mm256_storeu_si256(bottom + k, px.bottom);
        }
    }
}

__attribute__((target("avx2"))) void singleAvx2(const uint8_t* data, uint8_t* image) {
    const bool fromTop = singleScreenWord(data) == 1;
    for (int y = 0; y < kSingleHeight; ++y) {
        const uint8_t* row = data + (kSingleFirstRow + y) * kBoardRowBytes + 4 * kSingleFirstPair;
        auto* out = reinterpret_cast<__m256i*>(image + 4 * static_cast<std::size_t>(y * kSingleWidth));
        for (int k = 0; k < kSingleWidth / 8; ++k) {
            const PixelHalves px = convertEightPairs(row + 32 * k);
            _mm256_storeu_si256(out + k, fromTop ? px.top : px.bottom);
        }
    }
}

#endif

} // namespace

bool kernelAvailable(ConversionKernel kernel) {
    switch (kernel) {
    case ConversionKernel::Reference:
    case ConversionKernel::Portable:
        return true;
    case ConversionKernel::Avx2:
#ifdef TAVRIN_HAVE_AVX2_KERNEL
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    }
    return false;
}

ConversionKernel bestKernel() {
    static const ConversionKernel best =
        kernelAvailable(ConversionKernel::Avx2) ? ConversionKernel::Avx2 : ConversionKernel::Portable;
    return best;
}

void convertDualScreen(const uint8_t* data, uint8_t* image, ConversionKernel kernel) {
    switch (kernel) {
    case ConversionKernel::Reference:
        return dualReference(data, image);
#ifdef TAVRIN_HAVE_AVX2_KERNEL
    case ConversionKernel::Avx2:
        if (kernelAvailable(kernel))
            return dualAvx2(data, image);
        break;
#endif
    default:
        break;
    }
    dualPortable(data, image);
}

void convertSingleScreen(const uint8_t* data, uint8_t* image, ConversionKernel kernel) {
    switch (kernel) {
    case ConversionKernel::Reference:
        return singleReference(data, image);
#ifdef TAVRIN_HAVE_AVX2_KERNEL
    case ConversionKernel::Avx2:
        if (kernelAvailable(kernel))
            return singleAvx2(data, image);
        break;
#endif
    default:
        break;
    }
    singlePortable(data, image);
}

bool convertFrame(device::CaptureFrame& frame, int32_t layoutId) {
    if (frame.layout.layoutId != layoutId || !device::isLayoutIndex(layoutId)) {
        // An id outside the table gets the empty row 0 and so no picture.
        const device::ScreenLayout& row =
            device::screenLayouts[device::isLayoutIndex(layoutId) ? layoutId : 0];
        const auto bytes = static_cast<std::size_t>(row.width) * static_cast<std::size_t>(row.height) * 4;
        try {
            // Keeps the capacity it has: going back to a larger layout later
            // reuses it, and the steady state never allocates.
            frame.image.assign(bytes, 0);
        } catch (const std::bad_alloc&) {
            frame.image.clear();
            frame.layout = device::screenLayouts[0];
            return false;
        }
        frame.layout = row;
    }
    if (layoutId == device::kDualScreenLayout)
        convertDualScreen(frame.data.get(), frame.image.data());
    else if (layoutId == device::kSingleScreenLayout)
        convertSingleScreen(frame.data.get(), frame.image.data());
    return true;
}

} // namespace tavrin::display

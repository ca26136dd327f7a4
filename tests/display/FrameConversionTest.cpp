// SPDX-License-Identifier: GPL-2.0-or-later
#include "display/FrameConversion.h"

#include "device/ScreenLayout.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

using namespace tavrin;
using namespace tavrin::display;

namespace {

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

std::vector<ConversionKernel> availableKernels() {
    std::vector<ConversionKernel> kernels;
    for (auto k : {ConversionKernel::Reference, ConversionKernel::Portable, ConversionKernel::Avx2})
        if (kernelAvailable(k))
            kernels.push_back(k);
    return kernels;
}

struct Board {
    std::vector<uint8_t> data = std::vector<uint8_t>(device::kFrameBufferBytes, 0);

    void set(int row, int pair, int word, uint16_t w) {
        const std::size_t at = 2 * (static_cast<std::size_t>(row) * 512 + 2 * pair + word);
        data[at] = static_cast<uint8_t>(w);
        data[at + 1] = static_cast<uint8_t>(w >> 8);
    }
    void fill(uint16_t w) {
        for (int r = 0; r < 192; ++r)
            for (int p = 0; p < 256; ++p)
                set(r, p, 0, w), set(r, p, 1, w);
    }
};

Rgb pixelAt(const std::vector<uint8_t>& image, int width, int x, int y) {
    const uint8_t* p = image.data() + 4 * (static_cast<std::size_t>(y) * width + x);
    return {p[2], p[1], p[0]};
}

// A frame whose device buffer comes from `board`.
struct Frame {
    device::CaptureFrame frame;
    explicit Frame(const Board& board) { load(board); }
    void load(const Board& board) {
        if (!frame.data)
            frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
        std::memcpy(frame.data.get(), board.data.data(), board.data.size());
    }
};

struct ColourCase {
    uint16_t word;
    Rgb expected;
};

} // namespace

TEST(FrameConversion, WordsConvertToTheDocumentedColoursInBothLayoutsWithEveryKernel) {
    const std::array<ColourCase, 7> cases = {{{0xFFFF, {255, 255, 255}},
                                              {0x0000, {0, 0, 0}},
                                              {0xF800, {251, 0, 0}},
                                              {0xF820, {255, 4, 4}},
                                              {0x07E0, {4, 255, 4}},
                                              {0x001F, {0, 0, 251}},
                                              {0x0020, {4, 4, 4}}}};
    for (const auto& c : cases) {
        Board board;
        board.fill(c.word);
        for (ConversionKernel kernel : availableKernels()) {
            std::vector<uint8_t> dual(256 * 384 * 4, 0), single(240 * 160 * 4, 0);
            convertDualScreen(board.data.data(), dual.data(), kernel);
            convertSingleScreen(board.data.data(), single.data(), kernel);
            for (auto [x, y] : {std::pair{0, 0}, {255, 191}, {17, 192}, {255, 383}})
                EXPECT_EQ(pixelAt(dual, 256, x, y), c.expected)
                    << std::hex << c.word << " kernel " << int(kernel);
            for (auto [x, y] : {std::pair{0, 0}, {239, 159}, {100, 80}})
                EXPECT_EQ(pixelAt(single, 240, x, y), c.expected)
                    << std::hex << c.word << " kernel " << int(kernel);
            EXPECT_EQ(dual[3], 0);
            EXPECT_EQ(single[4 * 240 * 160 - 1], 0);
        }
    }
}

TEST(FrameConversion, AnErrorFrameIsWhiteEverywhereInBothLayouts) {
    Board board;
    std::memset(board.data.data(), 0xFF, device::kPictureBytes);
    Frame f(board);
    for (int layout : {device::kDualScreenLayout, device::kSingleScreenLayout}) {
        ASSERT_TRUE(convertFrame(f.frame, layout));
        const auto& img = f.frame.image;
        ASSERT_EQ(img.size(), static_cast<std::size_t>(device::screenLayouts[layout].width *
                                                       device::screenLayouts[layout].height * 4));
        for (std::size_t i = 0; i < img.size(); i += 4) {
            ASSERT_EQ(img[i], 255);
            ASSERT_EQ(img[i + 1], 255);
            ASSERT_EQ(img[i + 2], 255);
            ASSERT_EQ(img[i + 3], 0);
        }
    }
}

TEST(FrameConversion, DualScreenPutsWordOneOnTopAndWordZeroBelow) {
    Board board;
    board.set(5, 3, 1, 0xFFFF); // top picture, pixel (3, 5)
    board.set(5, 3, 0, 0xF800); // bottom picture, pixel (3, 5)
    board.set(191, 255, 0, 0x001F);
    for (ConversionKernel kernel : availableKernels()) {
        std::vector<uint8_t> img(256 * 384 * 4, 0);
        convertDualScreen(board.data.data(), img.data(), kernel);
        EXPECT_EQ(pixelAt(img, 256, 3, 5), (Rgb{255, 255, 255}));
        EXPECT_EQ(pixelAt(img, 256, 3, 192 + 5), (Rgb{251, 0, 0}));
        EXPECT_EQ(pixelAt(img, 256, 255, 383), (Rgb{0, 0, 251}));
        int lit = 0;
        for (std::size_t i = 0; i < img.size(); i += 4)
            lit += img[i] || img[i + 1] || img[i + 2];
        EXPECT_EQ(lit, 3);
    }
}

TEST(FrameConversion, SingleScreenTakesItsWordByTheBuffersFirstWord) {
    Board board;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 240; ++x)
            board.set(16 + y, 8 + x, 0, 0x07E0), board.set(16 + y, 8 + x, 1, 0x001F);
    // The border rows and pairs are never read.
    board.set(15, 100, 0, 0xF800);
    board.set(176, 100, 0, 0xF800);
    board.set(50, 7, 0, 0xF800);
    board.set(50, 248, 0, 0xF800);

    for (ConversionKernel kernel : availableKernels()) {
        for (uint16_t first : {uint16_t{0x0000}, uint16_t{0xFFFE}, uint16_t{0xFFFF}}) {
            board.set(0, 0, 0, first);
            std::vector<uint8_t> img(240 * 160 * 4, 0);
            convertSingleScreen(board.data.data(), img.data(), kernel);
            const Rgb want = first == 0xFFFF ? Rgb{0, 0, 251} : Rgb{4, 255, 4};
            for (int y = 0; y < 160; ++y)
                for (int x = 0; x < 240; ++x)
                    ASSERT_EQ(pixelAt(img, 240, x, y), want) << x << "," << y << " first " << first;
        }
    }
}

TEST(FrameConversion, FastKernelsMatchTheReferenceForEveryWordValue) {
    // Dual screen: the 98,304 words of one frame hold every value at least once,
    // in both words of a pair.
    Board board;
    for (int r = 0; r < 192; ++r)
        for (int p = 0; p < 256; ++p) {
            const int n = r * 256 + p;
            board.set(r, p, 0, static_cast<uint16_t>(2 * n));
            board.set(r, p, 1, static_cast<uint16_t>(2 * n + 1));
        }
    std::vector<uint8_t> reference(256 * 384 * 4, 0);
    convertDualScreen(board.data.data(), reference.data(), ConversionKernel::Reference);
    for (ConversionKernel kernel : availableKernels()) {
        std::vector<uint8_t> img(256 * 384 * 4, 0);
        convertDualScreen(board.data.data(), img.data(), kernel);
        EXPECT_EQ(img, reference) << "kernel " << int(kernel);
    }

    // Single screen: 38,400 words a frame, so two frames per choice of word.
    for (int word : {0, 1}) {
        for (int part = 0; part < 2; ++part) {
            Board b;
            for (int y = 0; y < 160; ++y)
                for (int x = 0; x < 240; ++x)
                    b.set(16 + y, 8 + x, word, static_cast<uint16_t>(part * 38400 + y * 240 + x));
            b.set(0, 0, 0, word ? 0xFFFF : 0x1234);
            std::vector<uint8_t> ref(240 * 160 * 4, 0);
            convertSingleScreen(b.data.data(), ref.data(), ConversionKernel::Reference);
            for (ConversionKernel kernel : availableKernels()) {
                std::vector<uint8_t> img(240 * 160 * 4, 0);
                convertSingleScreen(b.data.data(), img.data(), kernel);
                EXPECT_EQ(img, ref) << "kernel " << int(kernel) << " word " << word << " part " << part;
            }
        }
    }
}

TEST(FrameConversion, TheReferenceAgreesWithThePixelFormulaForEveryWord) {
    // The byte-wise reference and the 32-bit formula are written independently.
    Board board;
    for (int n = 0; n < 65536; ++n)
        board.set(n / 256 % 192, n % 256, n / (192 * 256), static_cast<uint16_t>(n));
    std::vector<uint8_t> img(256 * 384 * 4, 0);
    convertDualScreen(board.data.data(), img.data(), ConversionKernel::Reference);
    for (int n = 0; n < 65536; ++n) {
        const int x = n % 256, y = n / 256 % 192 + (n / (192 * 256) == 0 ? 192 : 0);
        uint32_t px;
        std::memcpy(&px, img.data() + 4 * (y * 256 + x), 4);
        ASSERT_EQ(px, convertPixel(static_cast<uint16_t>(n))) << n;
    }
    EXPECT_EQ(expand6(0), 0);
    EXPECT_EQ(expand6(1), 4);
    EXPECT_EQ(expand6(62), 251);
    EXPECT_EQ(expand6(63), 255);
}

TEST(FrameConversion, TheImageIsBuiltOnFirstUseAndReusedInTheSameLayout) {
    Board board;
    board.fill(0x07E0);
    Frame f(board);
    EXPECT_EQ(f.frame.layout.layoutId, 0);
    ASSERT_TRUE(convertFrame(f.frame, device::kDualScreenLayout));
    EXPECT_EQ(f.frame.layout, device::screenLayouts[device::kDualScreenLayout]);
    EXPECT_EQ(f.frame.image.size(), 393216u);
    const uint8_t* storage = f.frame.image.data();

    board.fill(0x001F);
    f.load(board);
    ASSERT_TRUE(convertFrame(f.frame, device::kDualScreenLayout));
    EXPECT_EQ(f.frame.image.data(), storage);
    EXPECT_EQ(pixelAt(f.frame.image, 256, 0, 0), (Rgb{0, 0, 251}));
}

TEST(FrameConversion, AChangeOfLayoutResizesAndClearsTheImage) {
    Board board;
    std::memset(board.data.data(), 0xFF, device::kPictureBytes);
    Frame f(board);
    ASSERT_TRUE(convertFrame(f.frame, device::kDualScreenLayout));
    ASSERT_TRUE(convertFrame(f.frame, device::kSingleScreenLayout));
    EXPECT_EQ(f.frame.image.size(), 153600u);
    EXPECT_EQ(f.frame.layout, device::screenLayouts[device::kSingleScreenLayout]);

    // Back to the dual layout with a black picture: nothing of the white one is left,
    // and the storage is reused rather than allocated again.
    const uint8_t* storage = f.frame.image.data();
    board.fill(0x0000);
    f.load(board);
    ASSERT_TRUE(convertFrame(f.frame, device::kDualScreenLayout));
    EXPECT_EQ(f.frame.image.size(), 393216u);
    EXPECT_EQ(f.frame.image.data(), storage);
    for (uint8_t byte : f.frame.image)
        ASSERT_EQ(byte, 0);
}

TEST(FrameConversion, AReservedOrUnknownLayoutLeavesNoPicture) {
    Board board;
    std::memset(board.data.data(), 0xFF, device::kPictureBytes);
    Frame f(board);
    ASSERT_TRUE(convertFrame(f.frame, device::kDualScreenLayout));
    for (int32_t id : {3, 1, 0, -1, 8, 1000}) {
        ASSERT_TRUE(convertFrame(f.frame, id));
        EXPECT_TRUE(f.frame.image.empty()) << id;
        for (uint8_t byte : f.frame.image)
            ASSERT_EQ(byte, 0);
    }
    // A frame never converted keeps layout id 0 until a real layout comes.
    Frame fresh(board);
    ASSERT_TRUE(convertFrame(fresh.frame, 0));
    EXPECT_TRUE(fresh.frame.image.empty());
    ASSERT_TRUE(convertFrame(fresh.frame, device::kSingleScreenLayout));
    EXPECT_EQ(fresh.frame.image.size(), 153600u);
}

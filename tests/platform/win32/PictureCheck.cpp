// SPDX-License-Identifier: GPL-2.0-or-later
// Finds which of the simulated board's pictures a screenshot of the demonstration's
// picture window shows, pixel for pixel, at a whole scale: the board's picture n
// converted by the program's own conversion, each pixel a scale x scale block.
//   tavrin_win32_picture_check FILE.ppm SCALE
// Prints "picture N" and exits 0 on an exact match; otherwise prints the fewest
// differing pixels of any picture and exits 1.
#include "display/FrameConversion.h"
#include "platform/sim/SimulatedBoard.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 384;

struct Ppm {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Binary PPM (P6, maximum 255), as ImageMagick writes it.
bool readPpm(const char* path, Ppm& out) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    if (!(file >> magic >> out.width >> out.height >> maximum) || magic != "P6" || maximum != 255)
        return false;
    file.get(); // the one whitespace before the pixels
    out.rgb.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return out.rgb.size() >= static_cast<std::size_t>(out.width) * out.height * 3;
}

// Differing screenshot pixels, stopping once `limit` is passed.
long differences(const Ppm& shot, const std::vector<uint8_t>& image, int scale, long limit) {
    long count = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const uint8_t* s = &shot.rgb[(static_cast<std::size_t>(y) * shot.width + x) * 3];
            const uint8_t* p =
                &image[(static_cast<std::size_t>(y / scale) * kWidth + x / scale) * 4]; // B, G, R, 0
            if (s[0] != p[2] || s[1] != p[1] || s[2] != p[0]) {
                if (++count > limit)
                    return count;
            }
        }
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE.ppm SCALE\n", argv[0]);
        return 2;
    }
    const int scale = std::atoi(argv[2]);
    Ppm shot;
    if (scale < 1 || !readPpm(argv[1], shot)) {
        std::fprintf(stderr, "%s: not a P6 picture, or a bad scale\n", argv[1]);
        return 2;
    }
    if (shot.width != kWidth * scale || shot.height != kHeight * scale) {
        std::printf("%d x %d is not %d x %d\n", shot.width, shot.height, kWidth * scale, kHeight * scale);
        return 1;
    }
    std::vector<uint8_t> raw(196608);
    std::vector<uint8_t> image(static_cast<std::size_t>(kWidth) * kHeight * 4);
    long fewest = -1;
    for (uint64_t n = 0; n < 4096; ++n) {
        tavrin::sim::SimulatedBoard::renderPicture(n, raw.data());
        tavrin::display::convertDualScreen(raw.data(), image.data());
        const long d = differences(shot, image, scale, fewest < 0 ? shot.width * shot.height : fewest);
        if (d == 0) {
            std::printf("picture %llu\n", static_cast<unsigned long long>(n));
            return 0;
        }
        if (fewest < 0 || d < fewest)
            fewest = d;
    }
    std::printf("no picture matches: at best %ld pixels differ\n", fewest);
    return 1;
}

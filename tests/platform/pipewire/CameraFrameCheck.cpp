// SPDX-License-Identifier: GPL-2.0-or-later
// Checks pictures a camera consumer saved as PNG files (GStreamer's pngenc):
//   tavrin-camera-check --layout 6|7 [--count N] [--moving] FILE...
// Each file must be the camera's size and equal, pixel for pixel, the program's
// own picture of one of the simulated board's test pictures in that layout.
// --moving: the pictures follow one another in the board's order (a moving picture).
// Prints one line per file that fails and a summary; exit status 0 when all pass.
#include "CameraReference.h"

#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int32_t layout = 6;
    long count = -1;
    bool moving = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--layout") && i + 1 < argc)
            layout = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--count") && i + 1 < argc)
            count = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--moving"))
            moving = true;
        else
            files.emplace_back(argv[i]);
    }
    const tavrin::testing::CameraReference reference(layout);
    const tavrin::display::CameraCanvas canvas = tavrin::display::cameraCanvas({});
    int failed = 0;
    int outOfOrder = 0;
    int skipped = 0;
    std::optional<uint32_t> previous;
    std::string numbers;
    for (const std::string& file : files) {
        unsigned char* rgb = nullptr;
        unsigned w = 0, h = 0;
        if (unsigned error = lodepng_decode24_file(&rgb, &w, &h, file.c_str())) {
            std::printf("%s: not a PNG file (%s)\n", file.c_str(), lodepng_error_text(error));
            ++failed;
            continue;
        }
        if (static_cast<int32_t>(w) != canvas.width || static_cast<int32_t>(h) != canvas.height) {
            std::printf("%s: %u x %u, not %d x %d\n", file.c_str(), w, h, canvas.width, canvas.height);
            std::free(rgb);
            ++failed;
            continue;
        }
        std::vector<uint8_t> bgrx(canvas.bytes());
        for (std::size_t p = 0; p < std::size_t{w} * h; ++p) {
            bgrx[4 * p] = rgb[3 * p + 2];
            bgrx[4 * p + 1] = rgb[3 * p + 1];
            bgrx[4 * p + 2] = rgb[3 * p];
        }
        std::free(rgb);
        const std::vector<uint32_t> candidates = reference.find(bgrx);
        if (candidates.empty()) {
            std::printf("%s: equals none of the program's pictures in layout %d\n", file.c_str(), layout);
            ++failed;
            continue;
        }
        // Of equal pictures, the one that comes soonest after the previous file's.
        uint32_t n = candidates.front();
        if (previous)
            for (uint32_t c : candidates)
                if ((c + 4096 - *previous) % 4096 < (n + 4096 - *previous) % 4096)
                    n = c;
        numbers += " " + std::to_string(n);
        if (previous) {
            const uint32_t step = (n + 4096 - *previous) % 4096;
            outOfOrder += step == 0 || step > 60;
            skipped += step > 1 ? static_cast<int>(step - 1) : 0;
        }
        previous = n;
    }
    std::printf("camera-check: %zu files, %d not exact, layout %d, pictures%s\n", files.size(), failed,
                layout, numbers.c_str());
    if (moving)
        std::printf("camera-check: %d out of order or repeated, %d board pictures between files skipped\n",
                    outOfOrder, skipped);
    const bool countOk = count < 0 || static_cast<long>(files.size()) == count;
    if (!countOk)
        std::printf("camera-check: %zu files, expected %ld\n", files.size(), count);
    return failed == 0 && countOk && (!moving || outOfOrder == 0) && !files.empty() ? 0 : 1;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Checks pictures a camera consumer saved as PNG files (GStreamer's pngenc, a browser's canvas):
//   tavrin-camera-check --layout 6|7 [--count N] [--moving] [--tolerance LEVELS] FILE...
// Each file must be the camera's size and equal, pixel for pixel, the program's
// own picture of one of the simulated board's test pictures in that layout.
// --moving: the pictures follow one another in the board's order (a moving picture).
// --tolerance: for pictures that went through I420 and back: each file is compared
// with the nearest of the program's pictures; it passes when away from colour edges
// (where 2 x 2 pixels share one chroma sample) no channel differs by more than
// LEVELS, and the mean difference a channel over the whole picture is at most 4.
// Prints one line per file that fails and a summary; exit status 0 when all pass.
#include "CameraReference.h"

#include <lodepng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPictures = 4096;
constexpr int32_t kGrid = 8; // the coarse search's sampling step
// Colour edges blur in I420 (one chroma sample for 2 x 2 pixels): over the whole
// picture the mean difference a channel stays small all the same.
constexpr double kMeanLimit = 4.0;

struct Nearest {
    uint32_t n = 0;
    double mean = 0;      // mean absolute difference a channel
    double flatShare = 0; // of pixels away from colour edges
    int flatWorst = 0;    // the largest difference of a channel there
    int worst = 0;        // anywhere
};

// The program's pictures sampled every kGrid pixels, for finding the nearest quickly.
class Sampled {
  public:
    explicit Sampled(int32_t layout) : layout_(layout) {
        const tavrin::display::CameraCanvas canvas = tavrin::display::cameraCanvas({});
        for (uint32_t n = 0; n < kPictures; ++n) {
            const std::vector<uint8_t> p = tavrin::testing::cameraPictureOf(n, layout);
            for (int32_t y = 0; y < canvas.height; y += kGrid)
                for (int32_t x = 0; x < canvas.width; x += kGrid)
                    for (int c = 0; c < 3; ++c)
                        samples_.push_back(p[(static_cast<std::size_t>(y) * canvas.width + x) * 4 + c]);
        }
        perPicture_ = samples_.size() / kPictures;
    }

    Nearest nearest(const std::vector<uint8_t>& bgrx) const {
        const tavrin::display::CameraCanvas canvas = tavrin::display::cameraCanvas({});
        std::vector<uint8_t> mine;
        for (int32_t y = 0; y < canvas.height; y += kGrid)
            for (int32_t x = 0; x < canvas.width; x += kGrid)
                for (int c = 0; c < 3; ++c)
                    mine.push_back(bgrx[(static_cast<std::size_t>(y) * canvas.width + x) * 4 + c]);
        std::vector<std::pair<long, uint32_t>> coarse;
        for (uint32_t n = 0; n < kPictures; ++n) {
            long d = 0;
            for (std::size_t i = 0; i < perPicture_; ++i)
                d += std::abs(int{samples_[n * perPicture_ + i]} - int{mine[i]});
            coarse.emplace_back(d, n);
        }
        std::partial_sort(coarse.begin(), coarse.begin() + 64, coarse.end());
        Nearest best;
        double bestMean = 1e9;
        std::vector<uint8_t> bestPicture;
        for (int k = 0; k < 64; ++k) {
            const uint32_t n = coarse[static_cast<std::size_t>(k)].second;
            std::vector<uint8_t> p = tavrin::testing::cameraPictureOf(n, layout_);
            long sum = 0;
            for (std::size_t i = 0; i < p.size(); ++i)
                sum += (i % 4 != 3) * std::abs(int{p[i]} - int{bgrx[i]});
            const double mean = static_cast<double>(sum) / static_cast<double>(p.size() / 4 * 3);
            if (mean < bestMean) {
                bestMean = mean;
                best = {n, mean, 0, 0, 0};
                bestPicture = std::move(p);
            }
        }
        // Away from colour edges (the 5 x 5 pixels around of one colour) chroma shared by
        // 2 x 2 pixels and blended with the neighbours' changes nothing; only rounding remains.
        const int32_t w = canvas.width, h = canvas.height;
        const auto at = [&](int32_t x, int32_t y) {
            uint32_t v;
            std::memcpy(&v, &bestPicture[(static_cast<std::size_t>(y) * w + x) * 4], 4);
            return v & 0xFFFFFF;
        };
        long flat = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const std::size_t px = static_cast<std::size_t>(y) * w + x;
                int most = 0;
                for (int c = 0; c < 3; ++c)
                    most = std::max(most, std::abs(int{bestPicture[px * 4 + c]} - int{bgrx[px * 4 + c]}));
                best.worst = std::max(best.worst, most);
                bool uniform = true;
                for (int32_t dy = -2; dy <= 2 && uniform; ++dy)
                    for (int32_t dx = -2; dx <= 2 && uniform; ++dx) {
                        const int32_t xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
                        uniform = at(xx, yy) == at(x, y);
                    }
                if (uniform) {
                    ++flat;
                    best.flatWorst = std::max(best.flatWorst, most);
                }
            }
        best.flatShare = static_cast<double>(flat) / static_cast<double>(w * h);
        return best;
    }

  private:
    int32_t layout_;
    std::vector<uint8_t> samples_;
    std::size_t perPicture_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    int32_t layout = 6;
    int tolerance = -1;
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
        else if (!std::strcmp(argv[i], "--tolerance") && i + 1 < argc)
            tolerance = std::atoi(argv[++i]);
        else
            files.emplace_back(argv[i]);
    }
    const tavrin::testing::CameraReference reference(layout, tolerance < 0 ? kPictures : 0);
    std::optional<Sampled> sampled;
    if (tolerance >= 0)
        sampled.emplace(layout);
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
        if (sampled) {
            const Nearest near = sampled->nearest(bgrx);
            const bool ok = near.flatWorst <= tolerance && near.mean <= kMeanLimit;
            std::printf("%s: nearest picture %u, mean difference %.2f (at most %.1f), away from colour edges "
                        "(%.0f %% of pixels) at most %d (at most %d), largest %d%s\n",
                        file.c_str(), near.n, near.mean, kMeanLimit, 100 * near.flatShare, near.flatWorst,
                        tolerance, near.worst, ok ? "" : ": too far");
            failed += !ok;
            if (previous && ok) {
                const uint32_t step = (near.n + kPictures - *previous) % kPictures;
                outOfOrder += step == 0 || step > 300;
            }
            if (ok)
                previous = near.n;
            numbers += " " + std::to_string(near.n);
            continue;
        }
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

// SPDX-License-Identifier: GPL-2.0-or-later
// Window rectangles come from the window system, frames' layout records from the
// conversion: neither may make the sizing rule, the tracker or the part lookup
// misbehave (overflow, reading outside the image, a size below the picture's).
#include "device/CaptureFrame.h"
#include "display/ImagePart.h"
#include "display/QuadPlacement.h"
#include "display/SizingRule.h"
#include "display/SizingTracker.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace tavrin;
using namespace tavrin::display;

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    template <class T> T take() {
        T v{};
        const size_t n = size < sizeof v ? size : sizeof v;
        std::memcpy(&v, data, n);
        data += n;
        size -= n;
        return v;
    }
};

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const int32_t w = 1 + in.take<uint16_t>() % 1024;
    const int32_t h = 1 + in.take<uint16_t>() % 1024;
    const int32_t extraW = in.take<uint8_t>();
    const int32_t extraH = in.take<uint8_t>();
    const auto edge = static_cast<SizingEdge>(in.take<uint8_t>() % 9);
    WindowRect r{in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>()};

    const WindowRect proposed = r;
    const ClientSize s = applySizingRule(w, h, extraW, extraH, edge, r);
    check(s.width >= w - 1 && s.height >= (h * (int64_t{w} - 1)) / w);
    check(s.width % 2 == 0);
    check(s.height == static_cast<int32_t>(int64_t{h} * s.width / w));
    if (edge == SizingEdge::None)
        check(r == proposed);
    (void)inferSizingEdge(proposed, r);

    SizingTracker tracker(w, h);
    tracker.settle(proposed);
    for (int i = 0; i < 4 && in.size >= 16; ++i)
        (void)tracker.resized(
            {in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>()});

    QuadInput q;
    q.width = static_cast<uint32_t>(w);
    q.height = static_cast<uint32_t>(h);
    q.textureWidth = textureSize(q.width);
    q.textureHeight = textureSize(q.height);
    q.backBufferWidth = in.take<int32_t>();
    q.backBufferHeight = in.take<int32_t>();
    (void)placeQuad(q);

    // A frame whose layout record and image disagree.
    device::CaptureFrame frame;
    frame.layout = {6, in.take<int16_t>(), in.take<int16_t>(), 0, 0, 0, 0, in.take<int32_t>()};
    frame.image.resize(in.take<uint16_t>() * 4u);
    const auto part = static_cast<ImagePart>(in.take<uint8_t>() % 3);
    const PartSource src = imagePartSource(frame, part, w, h);
    if (src.height > 0) {
        const uint8_t* end =
            src.pixels + ((static_cast<size_t>(src.height) - 1) * src.rowPixels + src.width) * 4;
        check(src.pixels >= frame.image.data() && end <= frame.image.data() + frame.image.size());
        check(src.width <= w && src.height <= h);
    }
    return 0;
}

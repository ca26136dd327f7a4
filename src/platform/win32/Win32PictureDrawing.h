// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/ImagePart.h"
#include "display/PictureArrangement.h"

#include <cstdint>
#include <memory>
#include <string>

struct HWND__;

namespace tavrin::win32 {

struct DrawOptions {
    bool pointScaling = false;
    bool shrink = false; // shrinkWhenMaximized, and the window is maximized
    float maximizedShrink = 0.0f;
    bool integerScale = false;
};

// Draws the converted picture of one window into its client area: the part's
// pixels as a texture, placed by the display layer's quads, black around them.
class PictureDrawing {
  public:
    virtual ~PictureDrawing() = default;
    // The client area changed size.
    virtual void resized() = 0;
    // `source` null: black only.
    virtual void draw(const display::PartSource* source, const display::ArrangedPicture& picture,
                      const DrawOptions& options) = 0;
};

// One Direct3D 9 device, texture and quad for `window`, showing a part of
// partWidth x partHeight; null, with the reason in `why`, when Direct3D cannot start.
std::unique_ptr<PictureDrawing> createDirect3DDrawing(HWND__* window, int32_t partWidth, int32_t partHeight,
                                                      std::string& why);
// The same with GDI (PlgBlt from a DIB section); always available.
std::unique_ptr<PictureDrawing> createGdiDrawing(HWND__* window, int32_t partWidth, int32_t partHeight);

} // namespace tavrin::win32

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/CaptureFrame.h"
#include "display/ImagePart.h"
#include "display/PictureArrangement.h"
#include "display/QuadPlacement.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

#include <cstdint>
#include <memory>

namespace tavrin::qt_display {

// The largest sizes the OpenGL driver takes for a texture, a viewport and a
// renderbuffer; 0 when no context could be made to ask.
struct DrawingLimits {
    int maxTextureSize = 0;
    int maxViewportWidth = 0;
    int maxViewportHeight = 0;
    int maxRenderbufferSize = 0;

    bool known() const { return maxTextureSize > 0; }
    // The largest drawable area in device pixels: a window's picture goes through a
    // framebuffer texture and a renderbuffer of its size, drawn through a viewport.
    int maxWidth() const;
    int maxHeight() const;
};

// Draws one part of a converted frame into the current OpenGL context: a texture of
// power-of-two size that receives the part's rows, and a four-vertex quad placed by
// placeQuad. Every call needs the window's context current.
class DisplayRenderer : protected QOpenGLFunctions {
  public:
    struct Options {
        bool pointScaling = false; // nearest texel, else bilinear
        bool shrink = false;       // shrinkWhenMaximized and the window is maximized
        float maximizedShrink = 0.0f;
    };

    DisplayRenderer() = default;
    DisplayRenderer(const DisplayRenderer&) = delete;
    DisplayRenderer& operator=(const DisplayRenderer&) = delete;

    void setPart(display::ImagePart part, int32_t width, int32_t height);
    // How the part is laid out in the window (by default: as it comes, at any scale).
    void setArrangement(const display::ArrangedPicture& picture, bool integerScale);

    // Asked once of a context of the default format, then remembered.
    static DrawingLimits drawingLimits();
    // Reads the limits of the current context.
    static DrawingLimits currentLimits();

    // Creates the program, the texture (cleared to black) and the quad's buffer.
    bool createSurfaces();
    void releaseSurfaces();
    bool ready() const { return texture_ != 0; }

    // The client area changed: its size in device pixels.
    void resetRenderer(int backBufferWidth, int backBufferHeight);

    // Copies the part's rows into the texture and draws it centred on black.
    void renderFrame(const device::CaptureFrame& frame, const Options& options);
    // Nothing to show yet: black.
    void clearToBlack();

    uint32_t textureWidth() const { return textureWidth_; }
    uint32_t textureHeight() const { return textureHeight_; }
    int backBufferWidth() const { return backBufferWidth_; }
    int backBufferHeight() const { return backBufferHeight_; }
    const display::Quad& quad() const { return quads_.quads[0]; }
    const display::ArrangedQuads& quads() const { return quads_; }

  private:
    void repeatEdges(const display::PartSource& source);

    display::ImagePart part_ = display::PART_WHOLE;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t textureWidth_ = 0;
    uint32_t textureHeight_ = 0;
    int backBufferWidth_ = 0;
    int backBufferHeight_ = 0;
    GLuint texture_ = 0;
    QOpenGLBuffer vertexBuffer_{QOpenGLBuffer::VertexBuffer};
    std::unique_ptr<QOpenGLShaderProgram> program_;
    int positionLocation_ = -1;
    int texCoordLocation_ = -1;
    int viewportLocation_ = -1;
    int pictureLocation_ = -1;
    display::ArrangedPicture arranged_{};
    bool integerScale_ = false;
    display::ArrangedQuads quads_{};
    bool canSetRowLength_ = false; // GLES 2 has no GL_UNPACK_ROW_LENGTH
};

} // namespace tavrin::qt_display

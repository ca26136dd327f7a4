// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_display/DisplayRenderer.h"

#include "base/Diagnostics.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <algorithm>

#include <cstddef>
#include <vector>

namespace tavrin::qt_display {

namespace {

// Vertices carry client pixel positions with pixel centres on whole numbers; GL puts
// them at half pixels, hence the 0.5 before the mapping onto the viewport.
const char* const kVertexShader = R"(
attribute highp vec4 position;
attribute highp vec2 texCoord;
uniform highp vec2 viewport;
varying highp vec2 uv;
void main() {
    highp vec2 p = (position.xy + 0.5) / viewport * 2.0 - 1.0;
    gl_Position = vec4(p.x, -p.y, 0.0, 1.0);
    uv = texCoord;
}
)";

// The image bytes are blue, green, red, zero; they are uploaded as they are and
// put in order here. Opaque whatever the fourth byte says.
const char* const kFragmentShader = R"(
uniform sampler2D picture;
varying highp vec2 uv;
void main() {
    gl_FragColor = vec4(texture2D(picture, uv).bgr, 1.0);
}
)";

} // namespace

int DrawingLimits::maxWidth() const {
    int m = std::min(maxTextureSize, maxViewportWidth);
    return maxRenderbufferSize > 0 ? std::min(m, maxRenderbufferSize) : m;
}

int DrawingLimits::maxHeight() const {
    int m = std::min(maxTextureSize, maxViewportHeight);
    return maxRenderbufferSize > 0 ? std::min(m, maxRenderbufferSize) : m;
}

DrawingLimits DisplayRenderer::currentLimits() {
    DrawingLimits limits;
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context)
        return limits;
    QOpenGLFunctions* gl = context->functions();
    GLint texture = 0;
    GLint viewport[2] = {0, 0};
    GLint renderbuffer = 0;
    gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    gl->glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    gl->glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    while (gl->glGetError() != GL_NO_ERROR) {
        // a driver without renderbuffers leaves an error and a 0 behind
    }
    limits.maxTextureSize = texture;
    limits.maxViewportWidth = viewport[0] > 0 ? viewport[0] : texture;
    limits.maxViewportHeight = viewport[1] > 0 ? viewport[1] : texture;
    limits.maxRenderbufferSize = renderbuffer;
    return limits;
}

DrawingLimits DisplayRenderer::drawingLimits() {
    static const DrawingLimits limits = [] {
        QOpenGLContext context;
        QOffscreenSurface surface;
        surface.create();
        if (!context.create() || !context.makeCurrent(&surface))
            return DrawingLimits{};
        const DrawingLimits l = currentLimits();
        context.doneCurrent();
        return l;
    }();
    return limits;
}

void DisplayRenderer::setPart(display::ImagePart part, int32_t width, int32_t height) {
    part_ = part;
    width_ = width;
    height_ = height;
    arranged_ = display::arrangePicture({}, false, width, height);
}

void DisplayRenderer::setArrangement(const display::ArrangedPicture& picture, bool integerScale) {
    arranged_ = picture;
    integerScale_ = integerScale;
}

bool DisplayRenderer::createSurfaces() {
    releaseSurfaces();
    initializeOpenGLFunctions();
    const QOpenGLContext* context = QOpenGLContext::currentContext();
    canSetRowLength_ = context && (!context->isOpenGLES() || context->format().majorVersion() >= 3);

    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !program->link())
        return false;
    positionLocation_ = program->attributeLocation("position");
    texCoordLocation_ = program->attributeLocation("texCoord");
    viewportLocation_ = program->uniformLocation("viewport");
    pictureLocation_ = program->uniformLocation("picture");
    program_ = std::move(program);

    textureWidth_ = display::textureSize(static_cast<uint32_t>(width_));
    textureHeight_ = display::textureSize(static_cast<uint32_t>(height_));
    const DrawingLimits limits = currentLimits();
    if (limits.known() && (textureWidth_ > static_cast<uint32_t>(limits.maxTextureSize) ||
                           textureHeight_ > static_cast<uint32_t>(limits.maxTextureSize))) {
        // Asking anyway would give an error at best and a driver crash at worst.
        base::displayLog.error("display: the graphics driver takes no %u x %u texture (at most %d)\n",
                               textureWidth_, textureHeight_, limits.maxTextureSize);
        releaseSurfaces();
        return false;
    }
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
        // earlier errors are not ours
    }
    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const std::vector<uint8_t> black(static_cast<std::size_t>(textureWidth_) * textureHeight_ * 4, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(textureWidth_),
                 static_cast<GLsizei>(textureHeight_), 0, GL_RGBA, GL_UNSIGNED_BYTE, black.data());
    if (glGetError() != GL_NO_ERROR) {
        releaseSurfaces();
        return false;
    }

    if (!vertexBuffer_.create()) {
        releaseSurfaces();
        return false;
    }
    vertexBuffer_.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    vertexBuffer_.bind();
    vertexBuffer_.allocate(static_cast<int>(sizeof(quads_.quads)));
    vertexBuffer_.release();
    return true;
}

void DisplayRenderer::repeatEdges(const display::PartSource& source) {
    // Bilinear filtering at the picture's last row and column also reads the texels
    // beyond them; repeating the edge there keeps it from fading into black.
    const uint8_t* lastRow =
        source.pixels + static_cast<std::size_t>(source.height - 1) * source.rowPixels * 4;
    const uint8_t* lastPixel = lastRow + static_cast<std::size_t>(source.width - 1) * 4;
    const auto th = static_cast<int32_t>(textureHeight_);
    const auto tw = static_cast<int32_t>(textureWidth_);
    if (source.height < th)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, source.height, source.width, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                        lastRow);
    if (source.width < tw && canSetRowLength_) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, source.rowPixels);
        glTexSubImage2D(GL_TEXTURE_2D, 0, source.width, 0, 1, source.height, GL_RGBA, GL_UNSIGNED_BYTE,
                        lastPixel - static_cast<std::size_t>(source.height - 1) * source.rowPixels * 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        if (source.height < th)
            glTexSubImage2D(GL_TEXTURE_2D, 0, source.width, source.height, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                            lastPixel);
    }
}

void DisplayRenderer::releaseSurfaces() {
    if (texture_) {
        glDeleteTextures(1, &texture_);
        texture_ = 0;
    }
    if (vertexBuffer_.isCreated())
        vertexBuffer_.destroy();
    program_.reset();
}

void DisplayRenderer::resetRenderer(int backBufferWidth, int backBufferHeight) {
    backBufferWidth_ = backBufferWidth;
    backBufferHeight_ = backBufferHeight;
}

void DisplayRenderer::clearToBlack() {
    glViewport(0, 0, backBufferWidth_, backBufferHeight_);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void DisplayRenderer::renderFrame(const device::CaptureFrame& frame, const Options& options) {
    if (!ready())
        return;

    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture_);
    const display::PartSource source = display::imagePartSource(frame, part_, width_, height_);
    if (source.height > 0) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        if (source.rowPixels == source.width) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, source.width, source.height, GL_RGBA, GL_UNSIGNED_BYTE,
                            source.pixels);
        } else {
            // Only a frame converted for another layout gets here: row by row.
            for (int32_t y = 0; y < source.height; ++y)
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, source.width, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                                source.pixels + static_cast<std::size_t>(y) * source.rowPixels * 4);
        }
        repeatEdges(source);
    }

    display::QuadInput in;
    in.width = static_cast<uint32_t>(width_);
    in.height = static_cast<uint32_t>(height_);
    in.textureWidth = textureWidth_;
    in.textureHeight = textureHeight_;
    in.backBufferWidth = backBufferWidth_;
    in.backBufferHeight = backBufferHeight_;
    in.shrink = options.shrink;
    in.maximizedShrink = options.maximizedShrink;
    quads_ = display::placeArrangedQuads(in, arranged_, integerScale_);
    vertexBuffer_.bind();
    vertexBuffer_.write(0, quads_.quads.data(), static_cast<int>(sizeof(display::Quad)) * quads_.count);

    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    clearToBlack();

    const GLint filter = options.pointScaling ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);

    program_->bind();
    program_->setUniformValue(viewportLocation_, static_cast<float>(backBufferWidth_),
                              static_cast<float>(backBufferHeight_));
    program_->setUniformValue(pictureLocation_, 0);
    constexpr int stride = static_cast<int>(sizeof(display::QuadVertex));
    program_->enableAttributeArray(positionLocation_);
    program_->enableAttributeArray(texCoordLocation_);
    program_->setAttributeBuffer(positionLocation_, GL_FLOAT, offsetof(display::QuadVertex, x), 4, stride);
    program_->setAttributeBuffer(texCoordLocation_, GL_FLOAT, offsetof(display::QuadVertex, u), 2, stride);
    for (int i = 0; i < quads_.count; ++i)
        glDrawArrays(GL_TRIANGLE_STRIP, i * 4, 4);
    program_->disableAttributeArray(positionLocation_);
    program_->disableAttributeArray(texCoordLocation_);
    program_->release();
    vertexBuffer_.release();
}

} // namespace tavrin::qt_display

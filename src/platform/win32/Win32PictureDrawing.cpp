// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32PictureDrawing.h"

#include "display/QuadPlacement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <d3d9.h>

namespace tavrin::win32 {

namespace {

display::QuadInput quadInput(HWND window, int32_t partWidth, int32_t partHeight, const DrawOptions& options) {
    RECT client{};
    ::GetClientRect(window, &client);
    display::QuadInput in;
    in.width = static_cast<uint32_t>(partWidth);
    in.height = static_cast<uint32_t>(partHeight);
    in.textureWidth = display::textureSize(in.width);
    in.textureHeight = display::textureSize(in.height);
    in.backBufferWidth = client.right;
    in.backBufferHeight = client.bottom;
    in.shrink = options.shrink;
    in.maximizedShrink = options.maximizedShrink;
    return in;
}

template <typename T> void release(T*& object) {
    if (object)
        object->Release();
    object = nullptr;
}

struct Direct3DLoad {
    IDirect3D9* object = nullptr;
    std::string why; // when there is none
};

// d3d9.dll is loaded when first needed rather than imported: a system without it (or
// with it switched off) then draws with GDI instead of refusing to start the program.
Direct3DLoad loadDirect3D() {
    HMODULE library = ::LoadLibraryW(L"d3d9.dll");
    if (!library)
        return {nullptr, "d3d9.dll could not be loaded"};
    using Create = IDirect3D9*(WINAPI*)(UINT);
    const auto create =
        reinterpret_cast<Create>(reinterpret_cast<void*>(::GetProcAddress(library, "Direct3DCreate9")));
    if (!create)
        return {nullptr, "d3d9.dll has no Direct3DCreate9"};
    IDirect3D9* object = create(D3D_SDK_VERSION);
    if (!object)
        return {nullptr, "Direct3DCreate9 failed"};
    return {object, {}};
}

// One device a window: a second window's device would otherwise have to share its
// swap chain's size with the first.
class Direct3DDrawing final : public PictureDrawing {
  public:
    Direct3DDrawing(HWND window, int32_t partWidth, int32_t partHeight)
        : window_(window), partWidth_(partWidth), partHeight_(partHeight) {}
    ~Direct3DDrawing() override {
        release(texture_);
        release(device_);
    }
    Direct3DDrawing(const Direct3DDrawing&) = delete;
    Direct3DDrawing& operator=(const Direct3DDrawing&) = delete;

    bool start(std::string& why) {
        static const Direct3DLoad direct3d = loadDirect3D(); // shared, never released
        if (!direct3d.object) {
            why = direct3d.why;
            return false;
        }
        D3DPRESENT_PARAMETERS parameters = presentParameters();
        HRESULT result =
            direct3d.object->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                          D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device_);
        if (FAILED(result)) {
            why = "CreateDevice failed (" + hex(result) + ")";
            return false;
        }
        const UINT textureWidth = display::textureSize(static_cast<uint32_t>(partWidth_));
        const UINT textureHeight = display::textureSize(static_cast<uint32_t>(partHeight_));
        result = device_->CreateTexture(textureWidth, textureHeight, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED,
                                        &texture_, nullptr);
        if (FAILED(result)) {
            why = "CreateTexture failed (" + hex(result) + ")";
            return false;
        }
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(texture_->LockRect(0, &locked, nullptr, 0))) {
            for (UINT row = 0; row < textureHeight; ++row)
                std::memset(static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch, 0, textureWidth * 4);
            texture_->UnlockRect(0);
        }
        return true;
    }

    void resized() override { lost_ = true; }

    void draw(const display::PartSource* source, const display::ArrangedPicture& picture,
              const DrawOptions& options) override {
        if (lost_ && !reset())
            return;
        if (source && !upload(*source))
            return;
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(255, 0, 0, 0), 1.0f, 0);
        if (source && SUCCEEDED(device_->BeginScene())) {
            const display::ArrangedQuads quads = display::placeArrangedQuads(
                quadInput(window_, partWidth_, partHeight_, options), picture, options.integerScale);
            const DWORD filter = options.pointScaling ? D3DTEXF_POINT : D3DTEXF_LINEAR;
            device_->SetTexture(0, texture_);
            device_->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
            device_->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
            // Bilinear filtering at the picture's edge must not reach round to the far side.
            device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
            device_->SetRenderState(D3DRS_LIGHTING, FALSE);
            device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
            for (int i = 0; i < quads.count; ++i)
                device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2,
                                         quads.quads[static_cast<std::size_t>(i)].data(),
                                         sizeof(display::QuadVertex));
            device_->EndScene();
        }
        if (device_->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
            lost_ = true;
    }

  private:
    static std::string hex(HRESULT result) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(result));
        return text;
    }

    D3DPRESENT_PARAMETERS presentParameters() const {
        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferFormat = D3DFMT_UNKNOWN; // the desktop's
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.hDeviceWindow = window_;
        parameters.Windowed = TRUE;
        parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        return parameters; // a back buffer of 0 x 0 is the client area's size
    }

    // The back buffer follows the client area. A new device rather than Reset():
    // with Reset() the window showed no new picture after a change of size under Wine.
    bool reset() {
        release(texture_);
        release(device_);
        std::string why;
        if (!start(why))
            return false; // a later paint tries again
        lost_ = false;
        return true;
    }

    bool upload(const display::PartSource& source) {
        D3DLOCKED_RECT locked{};
        if (FAILED(texture_->LockRect(0, &locked, nullptr, 0)))
            return false;
        const std::size_t rowBytes = static_cast<std::size_t>(source.width) * 4;
        for (int32_t row = 0; row < source.height; ++row)
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + static_cast<std::ptrdiff_t>(row) * locked.Pitch,
                        source.pixels + static_cast<std::size_t>(row) * source.rowPixels * 4, rowBytes);
        texture_->UnlockRect(0);
        return true;
    }

    HWND window_;
    int32_t partWidth_;
    int32_t partHeight_;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DTexture9* texture_ = nullptr;
    bool lost_ = false;
};

// The same quads drawn with PlgBlt, which maps a source rectangle onto any
// parallelogram: the quarter turns come out as with the texture.
class GdiDrawing final : public PictureDrawing {
  public:
    GdiDrawing(HWND window, int32_t partWidth, int32_t partHeight)
        : window_(window), partWidth_(partWidth), partHeight_(partHeight) {}
    ~GdiDrawing() override {
        if (bitmap_)
            ::DeleteObject(bitmap_);
    }
    GdiDrawing(const GdiDrawing&) = delete;
    GdiDrawing& operator=(const GdiDrawing&) = delete;

    void resized() override {}

    void draw(const display::PartSource* source, const display::ArrangedPicture& picture,
              const DrawOptions& options) override {
        RECT client{};
        ::GetClientRect(window_, &client);
        HDC windowDc = ::GetDC(window_);
        HDC back = ::CreateCompatibleDC(windowDc);
        HBITMAP backBitmap = ::CreateCompatibleBitmap(windowDc, std::max<LONG>(client.right, 1),
                                                      std::max<LONG>(client.bottom, 1));
        HGDIOBJ oldBack = ::SelectObject(back, backBitmap);
        ::FillRect(back, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        if (source && prepare(*source)) {
            const display::QuadInput in = quadInput(window_, partWidth_, partHeight_, options);
            const display::ArrangedQuads quads =
                display::placeArrangedQuads(in, picture, options.integerScale);
            HDC pictureDc = ::CreateCompatibleDC(windowDc);
            HGDIOBJ oldPicture = ::SelectObject(pictureDc, bitmap_);
            ::SetStretchBltMode(back, options.pointScaling ? COLORONCOLOR : HALFTONE);
            ::SetBrushOrgEx(back, 0, 0, nullptr);
            for (int i = 0; i < quads.count; ++i)
                drawQuad(back, pictureDc, quads.quads[static_cast<std::size_t>(i)], in);
            ::SelectObject(pictureDc, oldPicture);
            ::DeleteDC(pictureDc);
        }
        ::BitBlt(windowDc, 0, 0, client.right, client.bottom, back, 0, 0, SRCCOPY);
        ::SelectObject(back, oldBack);
        ::DeleteObject(backBitmap);
        ::DeleteDC(back);
        ::ReleaseDC(window_, windowDc);
    }

  private:
    bool prepare(const display::PartSource& source) {
        if (!bitmap_) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = partWidth_;
            info.bmiHeader.biHeight = -partHeight_; // top row first
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32; // B, G, R, 0
            info.bmiHeader.biCompression = BI_RGB;
            bitmap_ = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
            if (!bitmap_)
                return false;
        }
        ::GdiFlush();
        const int32_t rows = std::min(source.height, partHeight_);
        const std::size_t rowBytes = static_cast<std::size_t>(std::min(source.width, partWidth_)) * 4;
        for (int32_t row = 0; row < rows; ++row)
            std::memcpy(static_cast<uint8_t*>(bits_) + static_cast<std::size_t>(row) * partWidth_ * 4,
                        source.pixels + static_cast<std::size_t>(row) * source.rowPixels * 4, rowBytes);
        return true;
    }

    // The quad's corners hold the texture's corners: the one at the smallest u and v
    // is the source's top left, and so on.
    static void drawQuad(HDC target, HDC pictureDc, const display::Quad& quad, const display::QuadInput& in) {
        float uMin = quad[0].u, uMax = quad[0].u, vMin = quad[0].v, vMax = quad[0].v;
        for (const display::QuadVertex& v : quad) {
            uMin = std::min(uMin, v.u);
            uMax = std::max(uMax, v.u);
            vMin = std::min(vMin, v.v);
            vMax = std::max(vMax, v.v);
        }
        auto corner = [&](float u, float v) {
            for (const display::QuadVertex& q : quad)
                if (q.u == u && q.v == v)
                    return POINT{std::lround(q.x + 0.5f), std::lround(q.y + 0.5f)};
            return POINT{0, 0};
        };
        const POINT points[3] = {corner(uMin, vMin), corner(uMax, vMin), corner(uMin, vMax)};
        const auto tw = static_cast<float>(in.textureWidth);
        const auto th = static_cast<float>(in.textureHeight);
        const int x = static_cast<int>(std::lround(uMin * tw));
        const int y = static_cast<int>(std::lround(vMin * th));
        ::PlgBlt(target, points, pictureDc, x, y, static_cast<int>(std::lround(uMax * tw)) - x,
                 static_cast<int>(std::lround(vMax * th)) - y, nullptr, 0, 0);
    }

    HWND window_;
    int32_t partWidth_;
    int32_t partHeight_;
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
};

} // namespace

std::unique_ptr<PictureDrawing> createDirect3DDrawing(HWND window, int32_t partWidth, int32_t partHeight,
                                                      std::string& why) {
    auto drawing = std::make_unique<Direct3DDrawing>(window, partWidth, partHeight);
    if (!drawing->start(why))
        return nullptr;
    return drawing;
}

std::unique_ptr<PictureDrawing> createGdiDrawing(HWND window, int32_t partWidth, int32_t partHeight) {
    return std::make_unique<GdiDrawing>(window, partWidth, partHeight);
}

} // namespace tavrin::win32

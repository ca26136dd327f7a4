// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32PngEncoder.h"

#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

namespace tavrin::win32 {

namespace {

// Releases a component object at the end of its scope.
template <class T> struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p)
            p->Release();
    }
    T** put() { return &p; }
    T* operator->() const { return p; }
};

unsigned failure(HRESULT hr) {
    return hr == S_OK ? 1u : static_cast<unsigned>(hr);
}

HRESULT encode(const uint8_t* pixels, unsigned width, unsigned height, std::vector<uint8_t>& png) {
    Ref<IWICImagingFactory> factory;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(hr))
        return hr;
    Ref<IStream> stream;
    if (FAILED(hr = ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put())))
        return hr;
    Ref<IWICBitmapEncoder> encoder;
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())))
        return hr;
    if (FAILED(hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache)))
        return hr;
    Ref<IWICBitmapFrameEncode> frame;
    if (FAILED(hr = encoder->CreateNewFrame(frame.put(), nullptr)))
        return hr;
    if (FAILED(hr = frame->Initialize(nullptr)) || FAILED(hr = frame->SetSize(width, height)))
        return hr;
    // The encoder takes blue, green, red; it may offer another format instead, which
    // these pixels are not in.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = frame->SetPixelFormat(&format)))
        return hr;
    if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return E_FAIL;
    const UINT stride = width * 3;
    std::vector<uint8_t> bgr(static_cast<size_t>(stride) * height);
    for (size_t i = 0; i < bgr.size(); i += 3) {
        bgr[i] = pixels[i + 2];
        bgr[i + 1] = pixels[i + 1];
        bgr[i + 2] = pixels[i];
    }
    if (FAILED(hr = frame->WritePixels(height, stride, static_cast<UINT>(bgr.size()), bgr.data())))
        return hr;
    if (FAILED(hr = frame->Commit()) || FAILED(hr = encoder->Commit()))
        return hr;
    STATSTG stat{};
    if (FAILED(hr = stream->Stat(&stat, STATFLAG_NONAME)))
        return hr;
    png.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER start{};
    if (FAILED(hr = stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        return hr;
    ULONG read = 0;
    if (FAILED(hr = stream->Read(png.data(), static_cast<ULONG>(png.size()), &read)))
        return hr;
    return read == png.size() ? S_OK : E_FAIL;
}

} // namespace

unsigned Win32PngEncoder::encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                                    std::vector<uint8_t>& png) {
    png.clear();
    const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // RPC_E_CHANGED_MODE: the thread is in an apartment already, which serves as well.
    if (FAILED(joined) && joined != RPC_E_CHANGED_MODE)
        return failure(joined);
    const HRESULT hr = encode(pixels, width, height, png);
    if (SUCCEEDED(joined))
        ::CoUninitialize();
    if (FAILED(hr))
        png.clear();
    return FAILED(hr) ? failure(hr) : 0;
}

} // namespace tavrin::win32

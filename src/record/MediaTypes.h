// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "record/ITavrinCaptureApp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace tavrin::record {

// More result codes of the media framework, with their usual values.
#ifndef E_NOTIMPL
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
#endif
#ifndef E_UNEXPECTED
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
#endif
#ifndef E_ACCESSDENIED
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
#endif
constexpr HRESULT E_DISK_FULL = static_cast<HRESULT>(0x80070070u); // from ERROR_DISK_FULL
#ifndef E_PROP_ID_UNSUPPORTED
constexpr HRESULT E_PROP_ID_UNSUPPORTED = static_cast<HRESULT>(0x80070490u);
#endif
#ifndef E_PROP_SET_UNSUPPORTED
constexpr HRESULT E_PROP_SET_UNSUPPORTED = static_cast<HRESULT>(0x80070492u);
#endif
#ifndef VFW_S_NO_MORE_ITEMS
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
#endif
#ifndef VFW_S_CANT_CUE
constexpr HRESULT VFW_S_CANT_CUE = 0x00040268;
#endif
#ifndef VFW_E_INVALIDMEDIATYPE
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200u);
#endif
#ifndef VFW_E_ALREADY_CONNECTED
constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
#endif
#ifndef VFW_E_NO_ACCEPTABLE_TYPES
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = static_cast<HRESULT>(0x80040207u);
#endif
#ifndef VFW_E_NOT_CONNECTED
constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
#endif
#ifndef VFW_E_NOT_COMMITTED
constexpr HRESULT VFW_E_NOT_COMMITTED = static_cast<HRESULT>(0x80040211u);
#endif
#ifndef VFW_E_CANNOT_CONNECT
constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
#endif
#ifndef VFW_E_NOT_STOPPED
constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);
#endif
#ifndef VFW_E_WRONG_STATE
constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
#endif
#ifndef VFW_E_TYPE_NOT_ACCEPTED
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022Au);
#endif
#ifndef VFW_E_NOT_FOUND
constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
#endif

#ifndef SUCCEEDED
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
#endif
#ifndef FAILED
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
#endif

// Media time: 100 ns units.
using REFERENCE_TIME = int64_t;
constexpr REFERENCE_TIME UNITS = 10000000;

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend bool operator==(const GUID& a, const GUID& b) {
        return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
               std::memcmp(a.Data4, b.Data4, 8) == 0;
    }
};

constexpr GUID MEDIATYPE_Video{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIATYPE_Audio{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_RGB24{
    0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_PCM{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_Avi{0xe436eb88, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID FORMAT_VideoInfo{0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
constexpr GUID FORMAT_WaveFormatEx{
    0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
constexpr GUID PIN_CATEGORY_CAPTURE{
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
constexpr GUID AMPROPSETID_Pin{0x9b00f101, 0x1567, 0x11d1, {0xb3, 0xf1, 0x00, 0xaa, 0x00, 0x37, 0x61, 0xc5}};
constexpr GUID TIME_FORMAT_BYTE{0x7b785571, 0x8c82, 0x11cf, {0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6}};
constexpr GUID TIME_FORMAT_MEDIA_TIME{
    0x7b785574, 0x8c82, 0x11cf, {0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6}};
constexpr GUID CLSID_VideoCompressorCategory{
    0x33d9a760, 0x90c8, 0x11d0, {0xbd, 0x43, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
constexpr GUID CLSID_AudioCompressorCategory{
    0x33d9a761, 0x90c8, 0x11d0, {0xbd, 0x43, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
constexpr GUID CLSID_AudioInputDeviceCategory{
    0x33d9a762, 0x90c8, 0x11d0, {0xbd, 0x43, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
constexpr GUID CLSID_TavrinFilter{
    0xE7AECB1E, 0xEF15, 0x466C, {0xA1, 0xF6, 0xFF, 0xF1, 0x23, 0x69, 0xA1, 0x63}};

struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool isEmptyZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

#ifndef BI_RGB
constexpr uint32_t BI_RGB = 0;
#endif

struct BITMAPINFOHEADER {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);

#ifndef WAVE_FORMAT_PCM
constexpr uint16_t WAVE_FORMAT_PCM = 1;
#endif

struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};

struct SIZE {
    int32_t cx = 0, cy = 0;
};

struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    uint32_t VideoStandard = 0;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int32_t CropGranularityX = 0, CropGranularityY = 0, CropAlignX = 0, CropAlignY = 0;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int32_t OutputGranularityX = 0, OutputGranularityY = 0;
    int32_t StretchTapsX = 0, StretchTapsY = 0, ShrinkTapsX = 0, ShrinkTapsY = 0;
    int64_t MinFrameInterval = 0;
    int64_t MaxFrameInterval = 0;
    int32_t MinBitsPerSecond = 0;
    int32_t MaxBitsPerSecond = 0;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

// One media type. The format block is raw bytes, as it travels between filters;
// its length is cbFormat.
struct MediaType {
    GUID majortype;
    GUID subtype;
    bool bFixedSizeSamples = false;
    bool bTemporalCompression = false;
    uint32_t lSampleSize = 0;
    GUID formattype;
    std::vector<uint8_t> format;

    uint32_t cbFormat() const { return static_cast<uint32_t>(format.size()); }
    void freeFormat() { std::vector<uint8_t>().swap(format); }

    // The leading structure of the format block, or nothing when the block is too short.
    template <class T> std::optional<T> formatAs() const {
        if (format.size() < sizeof(T))
            return std::nullopt;
        T value;
        std::memcpy(&value, format.data(), sizeof(T));
        return value;
    }
    template <class T>
    void setFormat(const T& value, const uint8_t* extra = nullptr, std::size_t extraSize = 0) {
        format.resize(sizeof(T) + extraSize);
        std::memcpy(format.data(), &value, sizeof(T));
        if (extraSize)
            std::memcpy(format.data() + sizeof(T), extra, extraSize);
    }
};

// The platform's bitmap size of a header: rows padded to 4 bytes, times the height.
uint32_t bitmapSizeImage(const BITMAPINFOHEADER& header);

// The status an interface returns for `error`: its own code when it is a status,
// else the status nearest its errno (a full disk, no memory), else E_FAIL.
HRESULT statusOf(const base::Error& error);

} // namespace tavrin::record

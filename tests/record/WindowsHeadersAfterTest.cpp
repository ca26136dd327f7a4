// SPDX-License-Identifier: GPL-2.0-or-later
// The record layer's component-model names, then Windows' headers: both in one file,
// and the layer's values are the system's. (WindowsHeadersFirstTest includes every
// header of the layer after the system's.)
#ifdef _WIN32

#include "record/BaseFilter.h"
#include "record/ITavrinCaptureApp.h"
#include "record/MediaInterfaces.h"
#include "record/MediaTypes.h"
#include "record/MemAllocator.h"

// The names Windows' headers define as macros, with the layer's values taken before
// those headers are seen.
// clang-format off
#define TAVRIN_SYSTEM_MACRO_NAMES(X) \
    X(S_OK) X(S_FALSE) X(E_FAIL) X(E_POINTER) \
    X(E_INVALIDARG) X(E_OUTOFMEMORY) X(E_NOTIMPL) \
    X(E_UNEXPECTED) X(E_ACCESSDENIED) X(E_PROP_ID_UNSUPPORTED) X(E_PROP_SET_UNSUPPORTED) \
    X(VFW_S_NO_MORE_ITEMS) X(VFW_S_CANT_CUE) X(VFW_E_INVALIDMEDIATYPE) \
    X(VFW_E_ALREADY_CONNECTED) X(VFW_E_NO_ACCEPTABLE_TYPES) X(VFW_E_NOT_CONNECTED) X(VFW_E_NOT_COMMITTED) \
    X(VFW_E_CANNOT_CONNECT) X(VFW_E_NOT_STOPPED) X(VFW_E_WRONG_STATE) \
    X(VFW_E_TYPE_NOT_ACCEPTED) X(VFW_E_NOT_FOUND) X(VFW_E_BADALIGN) \
    X(KSPROPERTY_SUPPORT_GET) X(EC_ERRORABORT) X(BI_RGB) X(WAVE_FORMAT_PCM)
// clang-format on
#define TAVRIN_KEEP_OURS(name) constexpr long long ours_##name = tavrin::record::name;
TAVRIN_SYSTEM_MACRO_NAMES(TAVRIN_KEEP_OURS)

#include <windows.h>

#include <dshow.h>
#include <ks.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#define TAVRIN_SAME_AS_SYSTEM(name) static_assert(ours_##name == static_cast<long long>(name), #name);
TAVRIN_SYSTEM_MACRO_NAMES(TAVRIN_SAME_AS_SYSTEM)

namespace rec = tavrin::record;

// The structures a compressor and the multiplexer read have the system's layout.
static_assert(sizeof(rec::BITMAPINFOHEADER) == sizeof(::BITMAPINFOHEADER));
static_assert(sizeof(rec::VIDEOINFOHEADER) == sizeof(::VIDEOINFOHEADER));
static_assert(offsetof(rec::VIDEOINFOHEADER, bmiHeader) == offsetof(::VIDEOINFOHEADER, bmiHeader));
static_assert(offsetof(rec::WAVEFORMATEX, cbSize) == offsetof(::WAVEFORMATEX, cbSize));

TEST(WindowsHeaders, TheRecordLayersMediaGuidsAreTheSystems) {
    struct Case {
        const char* name;
        const rec::GUID& ours;
        const ::GUID& system;
    };
    const Case cases[] = {
        {"MEDIATYPE_Video", rec::MEDIATYPE_Video, ::MEDIATYPE_Video},
        {"MEDIATYPE_Audio", rec::MEDIATYPE_Audio, ::MEDIATYPE_Audio},
        {"MEDIASUBTYPE_RGB24", rec::MEDIASUBTYPE_RGB24, ::MEDIASUBTYPE_RGB24},
        {"MEDIASUBTYPE_PCM", rec::MEDIASUBTYPE_PCM, ::MEDIASUBTYPE_PCM},
        {"MEDIASUBTYPE_Avi", rec::MEDIASUBTYPE_Avi, ::MEDIASUBTYPE_Avi},
        {"FORMAT_VideoInfo", rec::FORMAT_VideoInfo, ::FORMAT_VideoInfo},
        {"FORMAT_WaveFormatEx", rec::FORMAT_WaveFormatEx, ::FORMAT_WaveFormatEx},
        {"PIN_CATEGORY_CAPTURE", rec::PIN_CATEGORY_CAPTURE, ::PIN_CATEGORY_CAPTURE},
        {"AMPROPSETID_Pin", rec::AMPROPSETID_Pin, ::AMPROPSETID_Pin},
        {"TIME_FORMAT_BYTE", rec::TIME_FORMAT_BYTE, ::TIME_FORMAT_BYTE},
        {"TIME_FORMAT_MEDIA_TIME", rec::TIME_FORMAT_MEDIA_TIME, ::TIME_FORMAT_MEDIA_TIME},
        {"CLSID_VideoCompressorCategory", rec::CLSID_VideoCompressorCategory,
         ::CLSID_VideoCompressorCategory},
        {"CLSID_AudioCompressorCategory", rec::CLSID_AudioCompressorCategory,
         ::CLSID_AudioCompressorCategory},
        {"CLSID_AudioInputDeviceCategory", rec::CLSID_AudioInputDeviceCategory,
         ::CLSID_AudioInputDeviceCategory},
    };
    static_assert(sizeof(rec::GUID) == sizeof(::GUID));
    for (const Case& c : cases)
        EXPECT_EQ(std::memcmp(&c.ours, &c.system, sizeof(::GUID)), 0) << c.name;
}

#endif

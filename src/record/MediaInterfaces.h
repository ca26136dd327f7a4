// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/AudioTimeline.h"
#include "record/MediaTypes.h"

#include <cstdint>
#include <memory>

namespace tavrin::record {

// The interfaces that filters and pins of the recording graph answer. A query
// for one of them is a dynamic_cast on the filter or pin.

constexpr uint32_t AMPROPERTY_PIN_CATEGORY = 0;
#ifndef KSPROPERTY_SUPPORT_GET
constexpr uint32_t KSPROPERTY_SUPPORT_GET = 1;
#endif

class IKsPropertySet {
  public:
    virtual ~IKsPropertySet() = default;
    virtual HRESULT Set(const GUID& propSet, uint32_t propId, const void* instanceData, uint32_t instanceSize,
                        const void* data, uint32_t dataSize) = 0;
    virtual HRESULT Get(const GUID& propSet, uint32_t propId, const void* instanceData, uint32_t instanceSize,
                        void* data, uint32_t dataSize, uint32_t* returned) = 0;
    virtual HRESULT QuerySupported(const GUID& propSet, uint32_t propId, uint32_t* support) = 0;
};

class IAMStreamConfig {
  public:
    virtual ~IAMStreamConfig() = default;
    virtual HRESULT SetFormat(const MediaType* type) = 0;
    virtual HRESULT GetFormat(std::unique_ptr<MediaType>* type) = 0;
    virtual HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) = 0;
    virtual HRESULT GetStreamCaps(int32_t index, std::unique_ptr<MediaType>* type,
                                  VIDEO_STREAM_CONFIG_CAPS* caps) = 0;
};

constexpr int32_t CompressionCaps_CanQuality = 1;

// On a compressor: its quality.
class IAMVideoCompression {
  public:
    virtual ~IAMVideoCompression() = default;
    // Either pointer may be null; what is asked for is written.
    virtual HRESULT GetInfo(double* defaultQuality, int32_t* capabilities) = 0;
    virtual HRESULT get_Quality(double* quality) = 0;
    virtual HRESULT put_Quality(double quality) = 0;
};

enum VfwCompressDialogs : int32_t {
    VfwCompressDialog_Config = 1,
    VfwCompressDialog_About = 2,
    VfwCompressDialog_QueryConfig = 4,
    VfwCompressDialog_QueryAbout = 8,
};

// On a compressor filter: its own dialogs and its opaque state.
class IAMVfwCompressDialogs {
  public:
    virtual ~IAMVfwCompressDialogs() = default;
    // `owner` is the toolkit's window of the caller, or null.
    virtual HRESULT ShowDialog(int32_t dialog, void* owner) = 0;
    // With a null buffer only the size is written.
    virtual HRESULT GetState(void* state, int32_t* size) = 0;
    virtual HRESULT SetState(const void* state, int32_t size) = 0;
};

// On the multiplexer: how far the file has got.
class IMediaSeeking {
  public:
    virtual ~IMediaSeeking() = default;
    virtual HRESULT SetTimeFormat(const GUID& format) = 0;
    virtual HRESULT GetCurrentPosition(int64_t* position) = 0;
};

constexpr int32_t INTERLEAVE_NONE_BUFFERED = 3;

class IConfigInterleaving {
  public:
    virtual ~IConfigInterleaving() = default;
    virtual HRESULT put_Mode(int32_t mode) = 0;
};

class IConfigAviMux {
  public:
    virtual ~IConfigAviMux() = default;
    virtual HRESULT SetMasterStream(int32_t stream) = 0;
};

// What a sound input has done to its stream so far, for the status line.
struct AudioCaptureStatus : AudioTimeline::Counts {
    bool lost = false; // the source is gone or silent for longer than jitter explains
    uint32_t sampleRate = 0;
};

class IAudioCaptureStatus {
  public:
    virtual ~IAudioCaptureStatus() = default;
    virtual HRESULT GetCaptureStatus(AudioCaptureStatus* status) = 0;
};

// Graph events that filters raise.
#ifndef EC_ERRORABORT
constexpr int32_t EC_ERRORABORT = 0x03;
#endif

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/TransformFilter.h"

namespace tavrin::record {

constexpr GUID CLSID_PcmFilter{0x6a08cf80, 0x0e18, 0x11cf, {0xa2, 0x4d, 0x00, 0x20, 0xaf, 0xd7, 0x97, 0x67}};

// The audio compressor named "PCM": takes 16-bit PCM and hands it on unchanged,
// so that recordings always carry 16-bit PCM sound.
class PcmFilter : public TransformFilter {
  public:
    PcmFilter();

    HRESULT CheckInputType(const MediaType* in) override;
    HRESULT CheckTransform(const MediaType* in, const MediaType* out) override;
    HRESULT GetOutputType(int32_t position, MediaType* type) override;
    HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
    HRESULT Transform(MediaSample* in) override;

    static bool isPcm16(const MediaType& type);
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"

namespace tavrin::record {

constexpr GUID CLSID_PcmFilter{0x6a08cf80, 0x0e18, 0x11cf, {0xa2, 0x4d, 0x00, 0x20, 0xaf, 0xd7, 0x97, 0x67}};

// The audio compressor named "PCM": the sound reaches the file as the 16-bit PCM it is.
class PcmFilter : public BaseFilter {
  public:
    PcmFilter() : BaseFilter(CLSID_PcmFilter) {}
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaInterfaces.h"

namespace tavrin::record {

// The property set every capture pin answers: a read-only pin category, which
// says "capture". The graph builder finds output pins by it.
class CapturePinCategory : public IKsPropertySet {
  public:
    HRESULT Set(const GUID& propSet, uint32_t propId, const void* instanceData, uint32_t instanceSize,
                const void* data, uint32_t dataSize) override;
    HRESULT Get(const GUID& propSet, uint32_t propId, const void* instanceData, uint32_t instanceSize,
                void* data, uint32_t dataSize, uint32_t* returned) override;
    HRESULT QuerySupported(const GUID& propSet, uint32_t propId, uint32_t* support) override;
};

} // namespace tavrin::record

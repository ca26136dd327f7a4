// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"

#include <mutex>
#include <vector>

namespace tavrin::record {

class CSourceStream;

// A filter whose pins are CSourceStream output pins.
class CSource : public BaseFilter {
  public:
    explicit CSource(const GUID& clsid);

    int GetPinCount() override;
    BaseOutputPin* GetPin(int n) override;

    HRESULT AddPin(CSourceStream* pin);
    HRESULT RemovePin(CSourceStream* pin);

  protected:
    std::recursive_mutex stateLock_;
    std::vector<CSourceStream*> streams_;
};

} // namespace tavrin::record

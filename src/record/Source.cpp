// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/Source.h"

#include "record/SourceStream.h"

#include <algorithm>

namespace tavrin::record {

CSource::CSource(const GUID& clsid) : BaseFilter(clsid, &stateLock_) {}

int CSource::GetPinCount() {
    std::lock_guard lk(stateLock_);
    return static_cast<int>(streams_.size());
}

BaseOutputPin* CSource::GetPin(int n) {
    std::lock_guard lk(stateLock_);
    if (n < 0 || n >= static_cast<int>(streams_.size()))
        return nullptr;
    return streams_[n];
}

HRESULT CSource::AddPin(CSourceStream* pin) {
    std::lock_guard lk(stateLock_);
    try {
        streams_.push_back(pin);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin) {
    std::lock_guard lk(stateLock_);
    auto it = std::find(streams_.begin(), streams_.end(), pin);
    if (it == streams_.end())
        return S_FALSE;
    streams_.erase(it);
    return S_OK;
}

} // namespace tavrin::record

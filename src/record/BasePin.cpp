// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/BasePin.h"

namespace tavrin::record {

BasePin::BasePin(BaseFilter* filter, std::recursive_mutex* lock, std::string name, PIN_DIRECTION direction)
    : filter_(filter), lock_(lock), name_(std::move(name)), direction_(direction) {}

HRESULT BasePin::ConnectionMediaType(MediaType* type) const {
    if (!type)
        return E_POINTER;
    if (!connected_)
        return VFW_E_NOT_CONNECTED;
    *type = mt_;
    return S_OK;
}

HRESULT BasePin::GetMediaType(int32_t position, MediaType*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT BasePin::SetMediaType(const MediaType* type) {
    if (!type)
        return E_POINTER;
    mt_ = *type;
    return S_OK;
}

HRESULT BasePin::CompleteConnect(BasePin*) {
    return S_OK;
}

HRESULT BasePin::BreakConnect() {
    return S_OK;
}

HRESULT BasePin::Disconnect() {
    if (!connected_)
        return S_FALSE;
    BreakConnect();
    connected_ = nullptr;
    mt_ = MediaType{};
    return S_OK;
}

HRESULT BasePin::Run(REFERENCE_TIME start) {
    tStart_ = start;
    return S_OK;
}

} // namespace tavrin::record

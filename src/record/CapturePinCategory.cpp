// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/CapturePinCategory.h"

#include <cstring>

namespace tavrin::record {

HRESULT CapturePinCategory::Set(const GUID&, uint32_t, const void*, uint32_t, const void*, uint32_t) {
    return E_NOTIMPL;
}

HRESULT CapturePinCategory::Get(const GUID& propSet, uint32_t propId, const void*, uint32_t, void* data,
                                uint32_t dataSize, uint32_t* returned) {
    if (!(propSet == AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (propId != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned)
        return E_POINTER;
    if (returned)
        *returned = sizeof(GUID);
    if (!data)
        return S_OK;
    if (dataSize < sizeof(GUID))
        return E_UNEXPECTED;
    std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    return S_OK;
}

HRESULT CapturePinCategory::QuerySupported(const GUID& propSet, uint32_t propId, uint32_t* support) {
    if (!(propSet == AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (propId != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

} // namespace tavrin::record

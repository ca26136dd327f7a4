// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/CaptureGraphBuilder.h"

#include "record/BaseInputPin.h"
#include "record/BaseOutputPin.h"
#include "record/MediaInterfaces.h"

namespace tavrin::record {

namespace {

BaseInputPin* freeInputPin(BaseFilter* filter) {
    for (int i = 0; i < filter->GetPinCount(); ++i) {
        BasePin* pin = filter->GetPin(i);
        if (pin && pin->direction() == PINDIR_INPUT && !pin->IsConnected())
            return static_cast<BaseInputPin*>(pin);
    }
    return nullptr;
}

bool pinHasCategory(BasePin* pin, const GUID& category) {
    auto* props = dynamic_cast<IKsPropertySet*>(pin);
    if (!props)
        return false;
    GUID value;
    uint32_t returned = 0;
    if (props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &value, sizeof value, &returned) !=
        S_OK)
        return false;
    return returned == sizeof value && value == category;
}

bool pinOffersMajorType(BasePin* pin, const GUID& majorType) {
    for (int32_t i = 0;; ++i) {
        MediaType type;
        if (pin->GetMediaType(i, &type) != S_OK)
            return false;
        if (type.majortype == majorType)
            return true;
    }
}

} // namespace

CaptureGraphBuilder::CaptureGraphBuilder(MediaPlatform& platform) : platform_(platform) {}

HRESULT CaptureGraphBuilder::SetFiltergraph(std::shared_ptr<FilterGraph> graph) {
    if (!graph)
        return E_POINTER;
    if (graph_)
        return E_UNEXPECTED;
    graph_ = std::move(graph);
    return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(std::shared_ptr<FilterGraph>* graph) const {
    if (!graph)
        return E_POINTER;
    *graph = graph_;
    return graph_ ? S_OK : E_UNEXPECTED;
}

HRESULT CaptureGraphBuilder::SetOutputFileName(const GUID& type, const std::string& fileName,
                                               std::shared_ptr<BaseFilter>* mux) {
    lastError_.clear();
    if (!mux)
        return E_POINTER;
    if (!graph_)
        return E_UNEXPECTED;
    if (!(type == MEDIASUBTYPE_Avi))
        return E_INVALIDARG;
    std::shared_ptr<BaseFilter> filter;
    HRESULT hr = platform_.CreateAviMux(fileName, &filter, &lastError_);
    if (FAILED(hr))
        return hr;
    if (!filter)
        return E_FAIL;
    hr = graph_->AddFilter(filter, "AVI Mux");
    if (FAILED(hr))
        return hr;
    *mux = std::move(filter);
    return S_OK;
}

BaseOutputPin* CaptureGraphBuilder::FindPin(BaseFilter* filter, const GUID* category, const GUID* majorType) {
    for (int i = 0; i < filter->GetPinCount(); ++i) {
        BasePin* pin = filter->GetPin(i);
        if (!pin || pin->direction() != PINDIR_OUTPUT || pin->IsConnected())
            continue;
        if (category && !pinHasCategory(pin, *category))
            continue;
        if (majorType && !pinOffersMajorType(pin, *majorType))
            continue;
        return static_cast<BaseOutputPin*>(pin);
    }
    return nullptr;
}

HRESULT CaptureGraphBuilder::RenderStream(const GUID* category, const GUID* majorType, BaseFilter* source,
                                          BaseFilter* intermediate, BaseFilter* sink) {
    if (!graph_)
        return E_UNEXPECTED;
    if (!source || !sink)
        return E_POINTER;
    BaseOutputPin* out = FindPin(source, category, majorType);
    if (!out)
        return VFW_E_NOT_FOUND;
    if (intermediate) {
        BaseInputPin* in = freeInputPin(intermediate);
        if (!in)
            return VFW_E_CANNOT_CONNECT;
        HRESULT hr = graph_->ConnectDirect(out, in, nullptr);
        if (FAILED(hr))
            return hr;
        out = FindPin(intermediate, nullptr, nullptr);
        if (!out)
            return VFW_E_CANNOT_RENDER;
    }
    BaseInputPin* in = freeInputPin(sink);
    if (!in)
        return VFW_E_CANNOT_CONNECT;
    return graph_->ConnectDirect(out, in, nullptr);
}

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/PcmFilter.h"

#include <algorithm>
#include <cstring>

namespace tavrin::record {

PcmFilter::PcmFilter() : TransformFilter(CLSID_PcmFilter) {}

bool PcmFilter::isPcm16(const MediaType& type) {
    if (!(type.majortype == MEDIATYPE_Audio) || !(type.subtype == MEDIASUBTYPE_PCM) ||
        !(type.formattype == FORMAT_WaveFormatEx))
        return false;
    auto wfx = type.formatAs<WAVEFORMATEX>();
    return wfx && wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->wBitsPerSample == 16 && wfx->nChannels > 0 &&
           wfx->nSamplesPerSec > 0 && wfx->nBlockAlign == wfx->nChannels * 2;
}

HRESULT PcmFilter::CheckInputType(const MediaType* in) {
    return isPcm16(*in) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PcmFilter::CheckTransform(const MediaType* in, const MediaType* out) {
    if (!isPcm16(*out))
        return VFW_E_TYPE_NOT_ACCEPTED;
    auto a = in->formatAs<WAVEFORMATEX>();
    auto b = out->formatAs<WAVEFORMATEX>();
    return a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec ? S_OK
                                                                                  : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PcmFilter::GetOutputType(int32_t position, MediaType* type) {
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    if (!type)
        return E_POINTER;
    *type = input_.connectionType();
    return S_OK;
}

HRESULT PcmFilter::DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
    auto wfx = input_.connectionType().formatAs<WAVEFORMATEX>();
    if (!wfx)
        return E_UNEXPECTED;
    // Room for half a second per buffer, whatever the source's packet size.
    properties->cBuffers = std::max(properties->cBuffers, 4);
    properties->cbBuffer =
        std::max<int32_t>(properties->cbBuffer, static_cast<int32_t>(wfx->nAvgBytesPerSec / 2));
    properties->cbAlign = std::max(properties->cbAlign, 2);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(properties, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= properties->cbBuffer ? S_OK : E_FAIL;
}

HRESULT PcmFilter::Transform(MediaSample* in) {
    const int32_t length = in->GetActualDataLength();
    uint8_t* src = nullptr;
    in->GetPointer(&src);
    int32_t done = 0;
    // A packet larger than an output buffer goes out in pieces, with times to match.
    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(in->GetTime(&start, &end));
    auto wfx = input_.connectionType().formatAs<WAVEFORMATEX>();
    do {
        SamplePtr out;
        HRESULT hr = output_->GetDeliveryBuffer(&out);
        if (FAILED(hr))
            return hr;
        uint8_t* dst = nullptr;
        out->GetPointer(&dst);
        int32_t n = std::min(length - done, out->GetSize());
        n -= n % wfx->nBlockAlign;
        if (n <= 0 && length - done > 0)
            return E_UNEXPECTED;
        std::memcpy(dst, src + done, static_cast<std::size_t>(n));
        out->SetActualDataLength(n);
        if (timed) {
            const REFERENCE_TIME s =
                start + static_cast<REFERENCE_TIME>(done / wfx->nBlockAlign) * UNITS / wfx->nSamplesPerSec;
            const REFERENCE_TIME e = start + static_cast<REFERENCE_TIME>((done + n) / wfx->nBlockAlign) *
                                                 UNITS / wfx->nSamplesPerSec;
            out->SetTime(&s, &e);
        }
        out->SetSyncPoint(true);
        out->SetDiscontinuity(done == 0 && in->IsDiscontinuity());
        hr = output_->Deliver(out.get());
        if (hr != S_OK)
            return hr;
        done += n;
    } while (done < length);
    return S_OK;
}

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/TavrinFilter.h"

#include "base/Diagnostics.h"

#include <cmath>
#include <limits>
#include <new>

namespace tavrin::record {

TavrinFilter::TavrinFilter() : CSource(CLSID_TavrinFilter) {
    pin = new (std::nothrow) CCapturePin(this);
}

TavrinFilter::~TavrinFilter() {
    if (pin && pin->ThreadExists()) {
        // Released while still streaming: end the stream so the thread can be joined.
        pin->stop();
        Stop();
    }
    delete pin;
}

std::shared_ptr<BaseFilter> TavrinFilter::CreateInstance(int32_t recordFps) {
    base::recordLog.debug("TavrinFilter::CreateInstance\n");
    std::shared_ptr<TavrinFilter> filter(new (std::nothrow) TavrinFilter());
    if (filter && !filter->pin)
        filter.reset();
    if (!filter) {
        base::recordLog.error("Couldn't get capture filter.\n");
        return nullptr;
    }

    IAMStreamConfig* config = filter->pin;
    std::unique_ptr<MediaType> type;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (config->GetStreamCaps(0, &type, &caps) == S_OK && type) {
        if (auto vih = type->formatAs<VIDEOINFOHEADER>()) {
            // Floating point on the unsigned value, truncated toward zero; a rate of 0
            // gives an interval that SetFormat refuses.
            const double interval = 10000000.0 / static_cast<double>(static_cast<uint32_t>(recordFps));
            vih->AvgTimePerFrame = std::isfinite(interval) && interval < 9.0e18
                                       ? static_cast<REFERENCE_TIME>(interval)
                                       : std::numeric_limits<REFERENCE_TIME>::max();
            type->setFormat(*vih);
            config->SetFormat(type.get());
        }
        type.reset();
    }

    int32_t count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    for (int32_t i = 0; i < count; ++i) {
        if (FAILED(config->GetStreamCaps(i, &type, &caps)) || !type)
            continue;
        if (auto vih = type->formatAs<VIDEOINFOHEADER>()) {
            base::recordLog.debug(
                "[%d] FPS=(%.2f-%.2f, current=%.2f) src=%d,%d %d,%d tgt=%d,%d %d,%d rez=%dx%d bpp=%d\n", i,
                10000000.0 / static_cast<double>(caps.MaxFrameInterval),
                10000000.0 / static_cast<double>(caps.MinFrameInterval),
                10000000.0 / static_cast<double>(vih->AvgTimePerFrame), vih->rcSource.left,
                vih->rcSource.right, vih->rcSource.top, vih->rcSource.bottom, vih->rcTarget.left,
                vih->rcTarget.right, vih->rcTarget.top, vih->rcTarget.bottom, vih->bmiHeader.biWidth,
                vih->bmiHeader.biHeight, vih->bmiHeader.biBitCount);
        }
        type.reset();
    }
    return filter;
}

HRESULT TavrinFilter::GetState(uint32_t, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_.load();
    return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT TavrinFilter::putFrame(const device::FrameRef& frame) {
    return pin->putFrame(frame);
}

HRESULT TavrinFilter::getStatistic(int32_t kind, int64_t* result) {
    return pin->getStatistic(kind, result);
}

HRESULT TavrinFilter::setArea(int32_t width, int32_t height, int32_t offset) {
    return pin->setArea(width, height, offset);
}

HRESULT TavrinFilter::stop() {
    return pin->stop();
}

} // namespace tavrin::record

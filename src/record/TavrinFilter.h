// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/CCapturePin.h"
#include "record/ITavrinCaptureApp.h"

#include <memory>

namespace tavrin::record {

// The recording's video source: frames come in from the control window through
// ITavrinCaptureApp and leave through the one pin as paced RGB24 samples.
class TavrinFilter : public CSource, public ITavrinCaptureApp {
  public:
    // Makes the filter and applies the recording frame rate; null when it cannot be made.
    static std::shared_ptr<BaseFilter> CreateInstance(int32_t recordFps);

    TavrinFilter();
    ~TavrinFilter() override;

    // A live source has nothing to cue while paused.
    HRESULT GetState(uint32_t timeoutMs, FILTER_STATE* state) override;

    HRESULT putFrame(const device::FrameRef& frame) override;
    HRESULT getStatistic(int32_t kind, int64_t* result) override;
    HRESULT setArea(int32_t width, int32_t height, int32_t offset) override;
    HRESULT stop() override;

    CCapturePin* pin = nullptr; // owned
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameRef.h"

#include <cstdint>

namespace tavrin::record {

// Result codes of the component model, kept with their values. Windows' headers
// define many of these names (and those below, in this layer) as macros of the same
// values: where one came first, the system's stands, so that a file may include both.
using HRESULT = int32_t;
#ifndef S_OK
constexpr HRESULT S_OK = 0;
#endif
#ifndef S_FALSE
constexpr HRESULT S_FALSE = 1;
#endif
#ifndef E_FAIL
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
#endif
#ifndef E_POINTER
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
#endif
#ifndef E_INVALIDARG
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
#endif
#ifndef E_OUTOFMEMORY
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
#endif

// Kinds of getStatistic.
constexpr int32_t STAT_SAMPLES = 0;   // samples delivered since play start
constexpr int32_t STAT_SKIPPED = 1;   // grid slots left empty since play start
constexpr int32_t STAT_LAST_TIME = 2; // grid time of the last frame queued, 100 ns units

// The program's own interface on the recording source.
class ITavrinCaptureApp {
  public:
    virtual ~ITavrinCaptureApp() = default;
    // Takes a reference of its own to `frame` when it queues it.
    virtual HRESULT putFrame(const device::FrameRef& frame) = 0;
    virtual HRESULT getStatistic(int32_t kind, int64_t* result) = 0;
    virtual HRESULT setArea(int32_t width, int32_t height, int32_t offset) = 0;
    virtual HRESULT stop() = 0;
};

} // namespace tavrin::record

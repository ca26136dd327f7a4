// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <atomic>

namespace tavrin::record {

// The one clock of a graph: stream time of every filter, the video grid and
// the count of sound samples are all measured against it.
class ReferenceClock {
  public:
    virtual ~ReferenceClock() = default;
    // Monotonic time in 100 ns units.
    virtual REFERENCE_TIME GetTime() = 0;
};

// steady_clock in 100 ns units.
class SystemReferenceClock : public ReferenceClock {
  public:
    REFERENCE_TIME GetTime() override;
};

// A clock that moves only when told to; for tests and benchmarks.
class ManualReferenceClock : public ReferenceClock {
  public:
    REFERENCE_TIME GetTime() override { return now_.load(); }
    void set(REFERENCE_TIME t) { now_.store(t); }
    void advance(REFERENCE_TIME dt) { now_.fetch_add(dt); }

  private:
    std::atomic<REFERENCE_TIME> now_{0};
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/ReferenceClock.h"

#include <chrono>

namespace tavrin::record {

REFERENCE_TIME SystemReferenceClock::GetTime() {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, UNITS>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace tavrin::update {

// Hours counted as if every month had 31 days: monotonic, with a jump at the
// end of each shorter month. `month` is 1-12, `day` 1-31, `hour` 0-23.
uint32_t hourStamp(int year, int month, int day, int hour);

// The stamp of the current UTC time.
uint32_t currentHourStamp();

} // namespace tavrin::update

// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/HourStamp.h"

#include "base/Os.h"

#include <ctime>

namespace tavrin::update {

uint32_t hourStamp(int year, int month, int day, int hour) {
    const uint32_t months = 12u * uint32_t(year) + uint32_t(month) - 1u;
    return 24u * (31u * months + uint32_t(day)) + uint32_t(hour);
}

uint32_t currentHourStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (!base::os::utcTime(now, utc))
        return 0;
    return hourStamp(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour);
}

} // namespace tavrin::update

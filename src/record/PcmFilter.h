// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"

namespace tavrin::record {

// The audio compressor named "PCM": the sound reaches the file as the 16-bit PCM it is.
class PcmFilter : public BaseFilter {};

} // namespace tavrin::record

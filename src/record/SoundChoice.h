// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace tavrin::record {

// The settings record's audioSource when the user chose to record no sound: the
// sound dialog lists it after the devices, and no device has that name.
inline constexpr const char* kNoSoundItem = "(no sound)";

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/MediaPlatform.h"

#include <memory>
#include <string>
#include <vector>

namespace tavrin::record {

// The devices of a category in the system's order; a device whose name cannot be read is skipped.

// The names of every device.
std::vector<std::string> deviceNames(MediaPlatform& platform, const GUID& category);
// The first device named exactly `name` whose filter can be made, or null.
std::shared_ptr<BaseFilter> findDevice(MediaPlatform& platform, const GUID& category,
                                       const std::string& name);
// The first device that is not a dummy and whose filter can be made, or null.
std::shared_ptr<BaseFilter> firstDevice(MediaPlatform& platform, const GUID& category);

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/MediaPlatform.h"

#include <memory>
#include <string>
#include <vector>

namespace tavrin::record {

// Decides about one device: a filter ends the walk, null goes on.
using DeviceChooser = std::shared_ptr<BaseFilter> (*)(const DeviceMoniker& moniker,
                                                      const std::string& friendlyName, void* context);

// Walks the devices of `category` in the system's order until the chooser returns a filter.
std::shared_ptr<BaseFilter> findDevice(MediaPlatform& platform, void* context, const GUID& category,
                                       DeviceChooser chooser);

// context: const std::string*; binds the device whose name equals it exactly.
std::shared_ptr<BaseFilter> matchFriendlyName(const DeviceMoniker& moniker, const std::string& friendlyName,
                                              void* context);
// Binds the first device that is not a dummy.
std::shared_ptr<BaseFilter> takeFirstDevice(const DeviceMoniker& moniker, const std::string& friendlyName,
                                            void* context);
// context: std::vector<std::string>*; appends every name and binds nothing.
std::shared_ptr<BaseFilter> listFriendlyName(const DeviceMoniker& moniker, const std::string& friendlyName,
                                             void* context);

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/MediaPlatform.h"

#include <functional>
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

// Walks the pins of `filter`, giving the visitor each pin and the pin's interface I
// (null when the pin does not answer it); true from the visitor stops the walk.
template <class I> void forEachPin(BaseFilter& filter, const std::function<bool(BasePin*, I*)>& visitor) {
    for (int i = 0; i < filter.GetPinCount(); ++i) {
        BasePin* pin = filter.GetPin(i);
        if (!pin)
            break;
        if (visitor(pin, dynamic_cast<I*>(pin)))
            break;
    }
}

} // namespace tavrin::record

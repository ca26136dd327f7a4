// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/DeviceEnum.h"

namespace tavrin::record {

namespace {

std::vector<DeviceMoniker> namedDevices(MediaPlatform& platform, const GUID& category) {
    std::vector<DeviceMoniker> devices;
    if (platform.CreateClassEnumerator(category, &devices) != S_OK)
        return {};
    std::erase_if(devices, [](const DeviceMoniker& moniker) { return !moniker.friendlyName; });
    return devices;
}

} // namespace

std::vector<std::string> deviceNames(MediaPlatform& platform, const GUID& category) {
    std::vector<std::string> names;
    for (const DeviceMoniker& moniker : namedDevices(platform, category))
        names.push_back(*moniker.friendlyName);
    return names;
}

std::shared_ptr<BaseFilter> findDevice(MediaPlatform& platform, const GUID& category,
                                       const std::string& name) {
    for (const DeviceMoniker& moniker : namedDevices(platform, category))
        if (*moniker.friendlyName == name && moniker.bind)
            if (auto filter = moniker.bind())
                return filter;
    return nullptr;
}

std::shared_ptr<BaseFilter> firstDevice(MediaPlatform& platform, const GUID& category) {
    // A dummy device would record nothing real; the user must name it to get it.
    for (const DeviceMoniker& moniker : namedDevices(platform, category))
        if (moniker.bind && !moniker.dummy)
            if (auto filter = moniker.bind())
                return filter;
    return nullptr;
}

} // namespace tavrin::record

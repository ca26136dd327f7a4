// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/DeviceEnum.h"

namespace tavrin::record {

std::shared_ptr<BaseFilter> findDevice(MediaPlatform& platform, void* context, const GUID& category,
                                       DeviceChooser chooser) {
    std::vector<DeviceMoniker> devices;
    if (platform.CreateClassEnumerator(category, &devices) != S_OK)
        return nullptr;
    for (const DeviceMoniker& moniker : devices) {
        if (!moniker.friendlyName)
            continue;
        if (auto filter = chooser(moniker, *moniker.friendlyName, context))
            return filter;
    }
    return nullptr;
}

std::shared_ptr<BaseFilter> matchFriendlyName(const DeviceMoniker& moniker, const std::string& friendlyName,
                                              void* context) {
    const auto* wanted = static_cast<const std::string*>(context);
    if (!wanted || friendlyName != *wanted || !moniker.bind)
        return nullptr;
    return moniker.bind();
}

std::shared_ptr<BaseFilter> takeFirstDevice(const DeviceMoniker& moniker, const std::string&, void*) {
    // A dummy device would record nothing real; the user must name it to get it.
    return moniker.bind && !moniker.dummy ? moniker.bind() : nullptr;
}

std::shared_ptr<BaseFilter> listFriendlyName(const DeviceMoniker&, const std::string& friendlyName,
                                             void* context) {
    if (auto* list = static_cast<std::vector<std::string>*>(context))
        list->push_back(friendlyName);
    return nullptr;
}

} // namespace tavrin::record

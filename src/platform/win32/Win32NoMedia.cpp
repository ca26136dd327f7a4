// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32NoMedia.h"

namespace tavrin::win32 {

record::HRESULT Win32NoMedia::CreateClassEnumerator(const record::GUID&,
                                                    std::vector<record::DeviceMoniker>* devices) {
    if (devices)
        devices->clear();
    return record::S_FALSE;
}

base::Result<std::shared_ptr<record::RecordingSink>> Win32NoMedia::CreateAviMux(const std::string&) {
    return base::Error::status(record::E_NOTIMPL, "Recording is not available in this build.");
}

std::string Win32NoMedia::soundProblem() {
    return "this build of Tavrin Capture cannot record sound yet";
}

} // namespace tavrin::win32

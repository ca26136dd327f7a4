// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaPlatform.h"

namespace tavrin::win32 {

// The media side of a build that cannot record yet: every device category is empty,
// so the settings dialogs open with empty lists (and "(no sound)"), and no file is made.
class Win32NoMedia final : public record::MediaPlatform {
  public:
    record::HRESULT CreateClassEnumerator(const record::GUID& category,
                                          std::vector<record::DeviceMoniker>* devices) override;
    base::Result<std::shared_ptr<record::RecordingSink>> CreateAviMux(const std::string& path) override;
    std::string soundProblem() override;
};

} // namespace tavrin::win32

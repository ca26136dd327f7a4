// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/RecordingControl.h"

#include <string>

namespace tavrin::record {

// Stands in for the recording side in a build without it: a start always fails
// cleanly and the status reads like that of a recording that did not start.
class NoRecording : public RecordingControl {
  public:
    bool startRecording(const std::string& fileName) override;
    void stopRecording() override {}
    std::string updateRecordingStatus() override;
    ITavrinCaptureApp* recorderApp() override { return nullptr; }

  private:
    std::string fileName_;
};

} // namespace tavrin::record

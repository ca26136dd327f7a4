// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/NoRecording.h"

#include "base/Diagnostics.h"
#include "base/Os.h"

namespace tavrin::record {

bool NoRecording::startRecording(const std::string& fileName) {
    fileName_ = fileName;
    base::recordLog.info("recording is not part of this build\n");
    return false;
}

std::string NoRecording::updateRecordingStatus() {
    // The current directory is the output folder.
    std::string text = base::os::currentFolder();
    if (!text.empty())
        text += "/";
    return text + fileName_ + "\nStopped.";
}

} // namespace tavrin::record

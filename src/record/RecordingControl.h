// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/ITavrinCaptureApp.h"

#include <string>

namespace tavrin::record {

// What the control window needs of the recording side.
class RecordingControl {
  public:
    virtual ~RecordingControl() = default;
    // True when the graph runs. On failure everything built is released again.
    virtual bool startRecording(const std::string& fileName) = 0;
    // Harmless when no recording runs.
    virtual void stopRecording() = 0;
    // Composes the status line text of the recording (or "Stopped.") and returns it.
    virtual std::string updateRecordingStatus() = 0;
    // The running source, or nullptr when not recording.
    virtual ITavrinCaptureApp* recorderApp() = 0;
    // Finishes recordings left unfinished by an earlier run of the program (at start);
    // a note for the status line ("Recovered 00003.avi"), or empty.
    virtual std::string recoverRecordings() { return {}; }
    // Opens the chosen sound input ahead of a recording, so that it delivers by the time
    // the record button is pressed, where that costs no burst of device opens (see Recorder).
    virtual void prepareSoundInput() {}
};

} // namespace tavrin::record

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaPlatform.h"
#include "record/RecordingDialogs.h"
#include "record/RecordingSettings.h"

class QWidget;

namespace tavrin::qt_record {

// The Video Codec dialog for a recording start whose compressor is missing,
// owned by the control window.
class QtRecordingDialogs : public record::RecordingDialogs {
  public:
    QtRecordingDialogs(QWidget* owner, record::RecordingSettings& settings, record::MediaPlatform& platform)
        : owner_(owner), settings_(settings), platform_(platform) {}
    bool showVideoCodecDialog() override;

  private:
    QWidget* owner_;
    record::RecordingSettings& settings_;
    record::MediaPlatform& platform_;
};

} // namespace tavrin::qt_record

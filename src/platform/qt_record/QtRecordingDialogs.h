// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "record/MediaPlatform.h"
#include "record/RecordingDialogs.h"

class QWidget;

namespace tavrin::qt_record {

// The Video Codec dialog for a recording start whose compressor is missing,
// owned by the control window.
class QtRecordingDialogs : public record::RecordingDialogs {
  public:
    QtRecordingDialogs(QWidget* owner, base::Settings& settings, record::MediaPlatform& platform)
        : owner_(owner), settings_(settings), platform_(platform) {}
    bool showVideoCodecDialog() override;

  private:
    QWidget* owner_;
    base::Settings& settings_;
    record::MediaPlatform& platform_;
};

} // namespace tavrin::qt_record

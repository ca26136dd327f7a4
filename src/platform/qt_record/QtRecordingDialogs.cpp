// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/QtRecordingDialogs.h"

#include "platform/qt_record/VideoCodecDialog.h"

namespace tavrin::qt_record {

bool QtRecordingDialogs::showVideoCodecDialog() {
    return qt_record::showVideoCodecDialog(owner_, settings_, platform_);
}

} // namespace tavrin::qt_record

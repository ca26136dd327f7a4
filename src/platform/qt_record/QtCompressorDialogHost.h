// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/CompressorDialogHost.h"

namespace tavrin::qt_record {

// Shows a compressor's configuration dialog (generated from its options) and its
// about box; the owner passed by the compressor is the dialog's QWidget.
class QtCompressorDialogHost : public record::CompressorDialogHost {
  public:
    bool configure(void* owner, const std::string& title, std::vector<record::CodecOption>& options) override;
    void about(void* owner, const std::string& title, const std::string& text) override;
};

} // namespace tavrin::qt_record

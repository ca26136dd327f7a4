// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/CompressorDialogHost.h"

#include <QDialog>
#include <functional>
#include <vector>

class QWidget;

namespace tavrin::qt_record {

// A compressor's configuration dialog, built from the description of its options:
// a number field, a list of named values, check boxes for flags, or a text field
// per option, with the option's help as tool tip.
class CodecOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    CodecOptionsDialog(QWidget* owner, const std::string& title,
                       const std::vector<record::CodecOption>& options);

    // The values as the fields show them, in the options' order and format.
    std::vector<record::CodecOption> values() const;
    // Puts every field back to its option's default.
    void restoreDefaults();
    QWidget* field(const std::string& name) const;

  private:
    struct Row {
        record::CodecOption option;
        QWidget* editor = nullptr;
        std::function<std::string()> read;
        std::function<void(const std::string&)> write;
        std::string initial; // what the field showed when the dialog opened
    };
    std::vector<Row> rows_;
};

} // namespace tavrin::qt_record

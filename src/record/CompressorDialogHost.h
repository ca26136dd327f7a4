// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace tavrin::record {

// One setting of a compressor, described well enough to build a form for it.
struct CodecOptionChoice {
    std::string name;
    std::string help;
};

struct CodecOption {
    enum class Kind { Integer, Real, Boolean, Text, Choice, Flags };
    std::string name;
    std::string help;
    Kind kind = Kind::Text;
    double minimum = 0;
    double maximum = 0;
    std::string defaultValue;
    std::string value; // as the library writes it; the dialog gives it back the same way
    std::vector<CodecOptionChoice> choices;
};

// Shows a compressor's own dialogs. The toolkit side implements it; compressors
// call it from ShowDialog on the thread that asked for the dialog.
class CompressorDialogHost {
  public:
    virtual ~CompressorDialogHost() = default;
    // Lets the user edit `options`; true (with the new values) when confirmed.
    virtual bool configure(void* owner, const std::string& title, std::vector<CodecOption>& options) = 0;
    virtual void about(void* owner, const std::string& title, const std::string& text) = 0;
};

} // namespace tavrin::record

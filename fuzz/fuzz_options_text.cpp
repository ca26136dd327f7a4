// SPDX-License-Identifier: GPL-2.0-or-later
// options.conf may hold anything a user or another program wrote: any bytes must
// parse, and a save must give back what was set and keep every other line.
#include "base/Diagnostics.h"
#include "base/ProgramOptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tavrin::base::setDiagnosticsToStdout(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using tavrin::base::OptionsText;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    OptionsText text = OptionsText::parse(bytes);
    (void)tavrin::base::readFlag(text, "camera", true);
    (void)tavrin::base::readInteger(text, "gap", 0, 0, 64);
    text.set("camera", "0");
    const std::string saved = text.text();
    const OptionsText again = OptionsText::parse(saved);
    // The key set reads back, and a second save changes nothing.
    if (again.value("camera") != std::string_view("0") || again.text() != saved)
        std::abort();
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FatalError.h"

#include "app/CaptureApp.h"
#include "base/Diagnostics.h"

#include <cstdlib>

namespace tavrin::app {

void reportFatalError(CaptureApp& app, std::string_view text) {
    if (app.fatalErrorHook) {
        app.fatalErrorHook(text);
        return;
    }
    base::appLog.error("Error: %.*s\n", static_cast<int>(text.size()), text.data());
    std::_Exit(-1);
}

} // namespace tavrin::app

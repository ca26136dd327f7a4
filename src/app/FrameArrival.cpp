// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/FrameArrival.h"

#include "app/CaptureApp.h"
#include "app/DebugConsole.h"
#include "app/FatalError.h"
#include "display/FrameConversion.h"

namespace tavrin::app {

void convertFrame(CaptureApp& app, device::CaptureFrame& frame) {
    if (!display::convertFrame(frame, app.settings.displayMode)) {
        reportFatalError(app, "Out of memory");
        return;
    }
    if (app.consoleOpen.load(std::memory_order_relaxed))
        analyseDataLines(app, frame);
}

} // namespace tavrin::app

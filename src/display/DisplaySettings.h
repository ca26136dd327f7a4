#pragma once

#include <cstdint>

namespace tavrin::display {

// The settings fields that the display windows read and write, all on the GUI thread.
struct DisplaySettings {
    int32_t displayMode = 6;
    uint8_t splitWindows = 0;
    uint8_t alwaysOnTop = 0;
    uint8_t pointScaling = 0;
    uint8_t shrinkWhenMaximized = 0;
    float maximizedShrink = 0.04f;
    int32_t clientWidth[2] = {0, 0};
    int32_t clientHeight[2] = {0, 0};
};

} // namespace tavrin::display

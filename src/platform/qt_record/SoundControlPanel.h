// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tavrin::qt_record {

struct SoundSettingsCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// The desktop's sound settings, recording page where the program has one:
// pavucontrol's input tab first, then the sound settings of the common desktops.
// `installed` tells whether a program can be found.
std::optional<SoundSettingsCommand>
soundSettingsCommand(const std::function<bool(const std::string&)>& installed);

// Opens the sound settings; when none can be found or started, `status` gets a
// message saying so (a message box when `status` is empty).
void openSoundControlPanel(QWidget* owner, const std::function<void(const std::string&)>& status);

extern const char* const kNoSoundSettingsText;

} // namespace tavrin::qt_record

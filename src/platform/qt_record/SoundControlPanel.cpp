// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt_record/SoundControlPanel.h"

#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace tavrin::qt_record {

const char* const kNoSoundSettingsText =
    "No sound settings program was found. Install pavucontrol to choose and adjust the recording input.";

std::optional<SoundSettingsCommand>
soundSettingsCommand(const std::function<bool(const std::string&)>& installed) {
    static const SoundSettingsCommand candidates[] = {
        {"pavucontrol", {"--tab=2"}}, // its input devices tab
        {"pavucontrol-qt", {"--tab=2"}},
        {"gnome-control-center", {"sound"}},
        {"systemsettings", {"kcm_pulseaudio"}},
        {"systemsettings5", {"kcm_pulseaudio"}},
        {"mate-volume-control", {"--page=input"}},
        {"xfce4-mixer", {}},
    };
    for (const auto& c : candidates)
        if (installed(c.program))
            return c;
    return std::nullopt;
}

void openSoundControlPanel(QWidget* owner, const std::function<void(const std::string&)>& status) {
    auto command = soundSettingsCommand([](const std::string& program) {
        return !QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty();
    });
    bool started = false;
    if (command) {
        QStringList arguments;
        for (const auto& a : command->arguments)
            arguments << QString::fromStdString(a);
        started = QProcess::startDetached(QString::fromStdString(command->program), arguments);
    }
    if (started)
        return;
    const std::string text = command ? "The sound settings (" + command->program + ") could not be started."
                                     : std::string(kNoSoundSettingsText);
    if (status)
        status(text);
    else
        QMessageBox::information(owner, QStringLiteral("Audio Settings"), QString::fromStdString(text));
}

} // namespace tavrin::qt_record

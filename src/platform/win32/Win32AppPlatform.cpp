// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/win32/Win32AppPlatform.h"

#include "app/CaptureApp.h"
#include "app/ConsoleToggle.h"
#include "app/ControlWindowLogic.h"
#include "app/FatalError.h"
#include "app/Lifecycle.h"
#include "base/NoticeStatusLine.h"
#include "display/DisplayWindowSet.h"
#include "platform/win32/Win32Console.h"
#include "platform/win32/Win32ControlWindow.h"
#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/Win32DisplayWindows.h"
#include "platform/win32/Win32FolderChooser.h"
#include "platform/win32/Win32HttpGet.h"
#include "platform/win32/Win32Messages.h"
#include "platform/win32/Win32NoMedia.h"
#include "platform/win32/Win32PngEncoder.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Text.h"
#include "record/NoRecording.h"
#include "record/Recorder.h"
#include "record/RecordingDialogs.h"
#include "screenshot/Screenshots.h"
#include "update/SettingsKey.h"
#include "update/UpdateCheck.h"

#include <cstdio>
#include <cstring>
#include <optional>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <objbase.h>

namespace tavrin::win32 {

namespace {

// The Video Codec dialog a recording start opens when no compressor is chosen.
class Win32RecordingDialogs final : public record::RecordingDialogs {
  public:
    explicit Win32RecordingDialogs(std::function<bool()> show) : show_(std::move(show)) {}
    bool showVideoCodecDialog() override { return show_(); }

  private:
    std::function<bool()> show_;
};

} // namespace

// Everything that exists between initToolkit and shutdownToolkit, in the order
// it is made (and the reverse order it goes).
struct Win32AppPlatform::Parts {
    Parts(app::CaptureApp& app, HINSTANCE instance, std::unique_ptr<record::MediaPlatform> mediaPlatform)
        : canRecord(mediaPlatform != nullptr),
          media(canRecord ? std::move(mediaPlatform) : std::make_unique<Win32NoMedia>()),
          pictureWindows(instance, app.settings, &app.options, app.capture.controlWindow,
                         [&app](const char* text) { app::reportFatalError(app, text); }),
          displays(app.settings, pictureWindows, app.options.picture), window(instance),
          folderChooser([this] { return window.handle(); }) {}

    const bool canRecord;
    std::unique_ptr<record::MediaPlatform> media;
    // The picture windows, with the layout's windows, titles and sizes from the display layer.
    Win32DisplayWindows pictureWindows;
    display::DisplayWindowSet displays;
    record::NoRecording noRecorder;
    Win32ControlWindow window;
    // With a media library: after the window it asks for the Video Codec dialog.
    std::optional<Win32RecordingDialogs> recordingDialogs;
    std::optional<record::Recorder> recorder;
    Win32FolderChooser folderChooser;
    Win32PngEncoder pngEncoder;
    // The firmware dialog while it runs.
    Win32FirmwareDialog* firmwareDialog = nullptr;
    // The window's status line as every part writes to it.
    std::optional<base::NoticeStatusLine> status;
    // After what it uses: its destructor waits for the screenshots still being saved.
    std::optional<screenshot::Screenshots> screenshots;
    Win32Console consoleWindow;
    std::optional<app::ConsoleToggle> console;
    std::optional<app::ControlWindowLogic> logic;
    Win32HttpGet http;
    // Last, so it goes first: a check still running is waited for.
    std::optional<update::UpdateCheck> updateCheck;
};

Win32AppPlatform::Win32AppPlatform(app::CaptureApp& app, base::UserFolders& folders, HINSTANCE__* instance,
                                   bool watchForArrivals, MediaFactory makeMedia)
    : app_(app), folders_(folders), instance_(instance), watchForArrivals_(watchForArrivals),
      makeMedia_(std::move(makeMedia)) {}

Win32AppPlatform::~Win32AppPlatform() {
    shutdownToolkit();
}

void Win32AppPlatform::initToolkit() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    comInitialised_ = SUCCEEDED(::CoInitialize(nullptr));
    Win32ControlWindow::registerClass(instance_);
    parts_ = std::make_unique<Parts>(app_, instance_, makeMedia_ ? makeMedia_() : nullptr);
}

bool Win32AppPlatform::createControlWindow() {
    Parts& p = *parts_;
    p.status.emplace(p.window);
    p.console.emplace(p.consoleWindow, app_);
    p.screenshots.emplace(app_.settings, folders_, app_.pngCounter, app_.aviCounter, *p.status,
                          p.folderChooser, p.pngEncoder);
    record::RecordingControl* recorder = &p.noRecorder;
    if (p.canRecord) {
        p.recordingDialogs.emplace([this, &p] {
            Win32VideoCodecDialog dialog(app_.settings, *p.media);
            return dialog.run(instance_, p.window.handle(), IDD_VIDEO_CODEC) > 0;
        });
        recorder = &p.recorder.emplace(*p.media, app_.settings, &*p.recordingDialogs);
    }
    app::ControlWindowLogic::Services services{p.window, p.displays, *recorder, &*p.screenshots};
    services.status = &*p.status;
    services.showVideoCodecDialog = [this, &p] {
        Win32VideoCodecDialog dialog(app_.settings, *p.media);
        dialog.run(instance_, p.window.handle(), IDD_VIDEO_CODEC);
    };
    services.showAudioSettingsDialog = [this, &p] {
        Win32AudioSettingsDialog dialog(app_.settings, *p.media, [&p](HWND owner) {
            if (!openSoundSettings(owner))
                p.status->setStatusText("The sound settings could not be opened.");
        });
        dialog.run(instance_, p.window.handle(), IDD_AUDIO_SETTINGS);
    };
    services.offerFirmwareUpdate = [this] { return app::offerFirmwareUpdate(app_, *this); };
    services.toggleDebugConsole = [&p] { p.console->toggle(); };
    p.logic.emplace(app_, std::move(services));
    p.window.setConsoleAvailable(true);
    // The window's message target is the program's from inside its initialisation,
    // before the logic posts UM_FOCUS_DISPLAY.
    p.window.attach(*p.logic, [this, &p] {
        app_.capture.controlWindow.set(&p.window.messageTarget());
        ::ShowWindow(p.window.handle(), SW_SHOW);
    });
    return p.window.create();
}

bool Win32AppPlatform::registerDeviceNotification() {
    if (!watchForArrivals_ || !parts_ || !parts_->window.handle())
        return false;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(&filter.dbcc_classguid, device::kTavrinInterfaceClass.bytes.data(), sizeof(GUID));
    notification_ =
        ::RegisterDeviceNotificationW(parts_->window.handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return notification_ != nullptr;
}

void Win32AppPlatform::postBoardArrival() {
    // A window already gone takes nothing; without a window (null) it would go to this thread.
    if (parts_ && parts_->window.handle())
        ::PostMessageW(parts_->window.handle(), kBoardArrivalMessage, 0, 0);
}

void Win32AppPlatform::unregisterDeviceNotification() {
    if (notification_)
        ::UnregisterDeviceNotification(notification_);
    notification_ = nullptr;
}

void Win32AppPlatform::runMessageLoop() {
    // A close request handled before the loop (inside the firmware dialog's own
    // loop) has ended the window already: nothing is left to run for.
    if (parts_ && parts_->logic && !parts_->logic->destroyed()) {
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            HWND window = parts_->window.handle();
            if (window && ::IsWindow(window) && ::IsDialogMessageW(window, &message))
                continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    // The window is gone: from now on the read thread takes its frames back itself.
    app_.capture.controlWindow.set(nullptr);
}

void Win32AppPlatform::showErrorBox(std::string_view text) {
    ::MessageBoxW(nullptr, widen(text).c_str(), L"Error", MB_OK | MB_ICONERROR);
}

void Win32AppPlatform::exitProcess(int exitCode) {
    std::fflush(stdout);
    ::ExitProcess(static_cast<UINT>(exitCode));
}

int Win32AppPlatform::runFirmwareDialog() {
    HWND owner = parts_ ? parts_->window.handle() : nullptr;
    Win32FirmwareDialog dialog(app_);
    if (parts_)
        parts_->firmwareDialog = &dialog;
    const intptr_t result = dialog.run(instance_, owner, IDD_FIRMWARE);
    if (parts_)
        parts_->firmwareDialog = nullptr;
    return static_cast<int>(result);
}

void Win32AppPlatform::endFirmwareDialog() {
    if (parts_ && parts_->firmwareDialog)
        parts_->firmwareDialog->boardReady();
}

void Win32AppPlatform::postCloseToControlWindow() {
    if (parts_ && parts_->window.handle())
        ::PostMessageW(parts_->window.handle(), WM_CLOSE, 0, 0);
}

void Win32AppPlatform::scheduleUpdateCheck() {
    Parts& p = *parts_;
    p.updateCheck.emplace(update::SettingsKey::placeIn(folders_), p.http, p.window);
    p.updateCheck->scheduleUpdateCheck();
}

void Win32AppPlatform::shutdownToolkit() {
    if (!parts_)
        return;
    if (!app_.capture.readThreadEnded()) {
        // The read thread outlived its time limit and may still post to the
        // window's message target: leave everything to the process exit.
        (void)parts_.release();
        return;
    }
    parts_.reset();
    if (comInitialised_)
        ::CoUninitialize();
    comInitialised_ = false;
}

} // namespace tavrin::win32

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ControlWindowLogic.h"

#include "app/CaptureApp.h"
#include "app/FrameArrival.h"
#include "app/Lifecycle.h"

#include "base/Diagnostics.h"
#include "base/Messages.h"
#include "screenshot/NumberedName.h"

#include <mutex>
#include <utility>

namespace tavrin::app {

namespace {
// On Windows the board is refused when another program holds it open (WinUSB lets
// one program have it) or its driver is not WinUSB; on Linux, without the udev rule.
#ifdef _WIN32
constexpr const char* kNoPermissionText =
    "Cannot open the board: close any other program using it, check that it uses the WinUSB driver "
    "(see README) and plug it in again";
#else
constexpr const char* kNoPermissionText =
    "No permission to open the board: install the udev rule (see README) and plug it in again";
#endif
} // namespace

ControlWindowLogic::ControlWindowLogic(CaptureApp& app, Services services)
    : app_(app), s_(std::move(services)), ownStatus_(s_.view), status_(s_.status ? s_.status : &ownStatus_) {}

int ControlWindowLogic::displayModeIndex(int32_t displayMode, bool splitWindows) {
    for (std::size_t i = 0; i < displayModeItems.size(); ++i) {
        if (displayModeItems[i].displayMode == displayMode &&
            displayModeItems[i].splitWindows == splitWindows)
            return static_cast<int>(i);
    }
    return -1;
}

void ControlWindowLogic::initialise(base::MessageTarget& self) {
    s_.view.setRecordIcon(RecordIcon::Idle);
    s_.view.setRecordChecked(false);
    for (const auto& item : displayModeItems)
        s_.view.addDisplayModeItem(item.text);
    s_.view.focusStatusLine();

    base::Settings& settings = app_.settings;
    // Only the two picture layouts can be shown; any other id (a reserved row, or
    // one outside the table) would index nothing, so the default stands in.
    if (settings.displayMode != device::kDualScreenLayout &&
        settings.displayMode != device::kSingleScreenLayout) {
        base::appLog.warning("displayMode=%d cannot be shown; using %d\n", settings.displayMode,
                             device::kDualScreenLayout);
        settings.displayMode = device::kDualScreenLayout;
        settings.splitWindows = 0;
    }
    const bool split = settings.splitWindows != 0;
    s_.view.selectDisplayModeItem(displayModeIndex(settings.displayMode, split));
    s_.displays.applyDisplayMode(settings.displayMode, split);
    if (s_.camera)
        s_.camera->setEnabled(app_.options.camera, app_.options.picture);
    // Recordings an earlier run left unfinished (a crash, a power cut) are finished now.
    std::string notice = app_.settingsNotice;
    const std::string recovered = s_.recorder.recoverRecordings();
    if (!recovered.empty())
        notice += (notice.empty() ? "" : " ") + recovered;
    if (!notice.empty())
        status_->showNotice(notice);
    s_.recorder.prepareSoundInput();
    applyListening();
    self.postMessage(base::UM_FOCUS_DISPLAY, 0, 0);
}

bool ControlWindowLogic::handleMessage(uint32_t message, uintptr_t wParam, intptr_t /*lParam*/) {
    // A window that is gone takes no more messages (frames come by handleFrame).
    if (destroyed_)
        return false;
    switch (message) {
    case base::UM_FOCUS_DISPLAY:
        s_.displays.focusMainDisplay();
        return true;
    case base::UM_DEVICE:
        status_->setConnectionStatus(wParam == base::kDeviceNoPermission ? kNoPermissionText
                                     : wParam                            ? "Connected"
                                                                         : "Not connected");
        return true;
    case base::UM_TOPMOST:
        s_.displays.applyTopmost();
        return false;
    case base::UM_CAMERA:
        if (s_.camera)
            s_.camera->setEnabled(app_.options.camera, app_.options.picture);
        return true;
    case base::UM_LISTEN:
        applyListening();
        return true;
    case base::WM_SYSCOMMAND:
        if (wParam == base::kDebugConsoleCommand && s_.toggleDebugConsole)
            s_.toggleDebugConsole();
        return false;
    case base::WM_CLOSE:
        close();
        return true;
    default:
        return false;
    }
}

void ControlWindowLogic::handleFrame(device::FrameRef frame) {
    // With no consumers left the frame goes straight back to the pool as `frame` lets go.
    if (!frame || destroyed_)
        return;
    // The frame is converted before anyone else holds it, so holders only read it.
    convertFrame(app_, *frame);
    if (record::ITavrinCaptureApp* recorder = s_.recorder.recorderApp())
        recorder->putFrame(frame);
    if (app_.screenshotRequested) {
        app_.screenshotRequested = false;
        if (s_.screenshots)
            s_.screenshots->startScreenshot(frame);
    }
    // The camera shares the frame only while someone reads it: no cost otherwise.
    if (s_.camera && s_.camera->wantsFrames())
        s_.camera->present(frame.share(), app_.options.picture);
    if (display::DisplayTarget* bottom = s_.displays.bottomDisplay())
        bottom->present(frame.share());
    if (display::DisplayTarget* main = s_.displays.mainDisplay())
        main->present(std::move(frame)); // inherits the control window's reference
}

void ControlWindowLogic::deviceArrived(const device::DeviceArrival& arrival) {
    if (destroyed_)
        return;
    {
        // A firmware update holds the application lock for its whole run. Waiting
        // for it here would freeze every window, so look again a little later;
        // meanwhile the read thread holds back, so the lock is free by then unless
        // an update has it.
        app_.capture.switchRequest.raise();
        std::unique_lock lock(app_.capture.appLock, std::try_to_lock);
        if (!lock.owns_lock()) {
            s_.view.retryLater([this, arrival] { deviceArrived(arrival); }, std::chrono::milliseconds(10));
            return;
        }
        device::switchDevice(app_.capture, &arrival.interfaceClass);
        app_.capture.switchRequest.withdraw();
    }
    if (s_.offerFirmwareUpdate)
        s_.offerFirmwareUpdate();
}

void ControlWindowLogic::command(int controlId) {
    if (destroyed_)
        return;
    switch (controlId) {
    case IDC_RECORD:
        if (app_.recording)
            endRecording();
        else
            beginRecording();
        break;
    case IDC_SCREENSHOT:
        if (s_.screenshots)
            app_.screenshotRequested = true;
        else
            status_->setStatusText("Screenshots are not available in this build.");
        break;
    case IDC_VIDEO_SETTINGS:
        if (app_.recording)
            break; // the settings must not change under a running recording
        if (s_.showVideoCodecDialog)
            s_.showVideoCodecDialog();
        else
            status_->setStatusText("Video settings are not available in this build.");
        break;
    case IDC_AUDIO_SETTINGS:
        if (app_.recording)
            break;
        if (s_.showAudioSettingsDialog) {
            s_.showAudioSettingsDialog();
            applyListening(); // the input, or the switch, may have changed
        } else
            status_->setStatusText("Audio settings are not available in this build.");
        break;
    case IDC_OUTPUT_FOLDER:
        if (s_.screenshots)
            s_.screenshots->chooseOutputFolder();
        else
            status_->setStatusText("Choosing the output folder is not available in this build.");
        break;
    default:
        break;
    }
}

void ControlWindowLogic::applyListening() {
    if (s_.listener)
        s_.listener->listen(app_.options.listen, app_.settings.audioSource.utf8());
}

void ControlWindowLogic::displayModeSelected(int index) {
    if (destroyed_ || app_.recording || index < 0 || index >= static_cast<int>(displayModeItems.size()))
        return;
    const DisplayModeItem& item = displayModeItems[static_cast<std::size_t>(index)];
    if (item.displayMode == app_.settings.displayMode &&
        item.splitWindows == (app_.settings.splitWindows != 0))
        return;
    s_.displays.applyDisplayMode(item.displayMode, item.splitWindows);
}

void ControlWindowLogic::showRecordingStatus() {
    status_->setStatusText(s_.recorder.updateRecordingStatus());
}

void ControlWindowLogic::beginRecording() {
    const std::string name = screenshot::nextNumberedName(app_.aviCounter, ".avi");
    if (name.empty()) {
        status_->setStatusText("No free recording name is left in the output folder "
                               "(00000.avi to 99999.avi exist). Choose another folder.");
        s_.view.setRecordChecked(false);
        return;
    }
    if (!s_.recorder.startRecording(name)) {
        showRecordingStatus();
        s_.view.setRecordChecked(false);
        return;
    }
    app_.recording = true;
    app_.blinkPhase = true;
    s_.view.setRecordIcon(RecordIcon::Active);
    s_.view.setRecordChecked(true);
    s_.view.startBlinkTimer(kBlinkPeriod);
    s_.view.setSettingsControlsEnabled(false);
}

void ControlWindowLogic::endRecording() {
    s_.recorder.stopRecording();
    if (app_.recording)
        showRecordingStatus();
    showIdle();
}

void ControlWindowLogic::showIdle() {
    app_.recording = false;
    s_.view.setRecordIcon(RecordIcon::Idle);
    s_.view.setRecordChecked(false);
    s_.view.stopBlinkTimer();
    s_.view.setSettingsControlsEnabled(true);
}

void ControlWindowLogic::blinkTimer() {
    if (!app_.recording)
        return; // a tick already queued when the recording ended
    s_.view.setRecordIcon(app_.blinkPhase ? RecordIcon::Idle : RecordIcon::Active);
    app_.blinkPhase = !app_.blinkPhase;
    showRecordingStatus();
    // A recording that stopped itself (a full disk, a write error) has said why in
    // the status line; the controls come back as a press of the button would bring them.
    if (!s_.recorder.recorderApp())
        showIdle();
}

void ControlWindowLogic::close() {
    app_.capture.switchRequest.withdraw(); // a switch still being retried will not come
    endRecording();
    s_.displays.destroyDisplayWindows();
    s_.view.destroyWindow();
    destroyed_ = true;
    s_.view.postQuit(0); // the window is gone, so is the program
}

} // namespace tavrin::app

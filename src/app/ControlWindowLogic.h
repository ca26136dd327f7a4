// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ControlWindowView.h"
#include "base/Messages.h"
#include "base/NoticeStatusLine.h"
#include "device/DeviceArrival.h"
#include "device/FrameRef.h"
#include "device/UsbTransport.h"
#include "display/CameraOutput.h"
#include "display/DisplayTarget.h"
#include "record/RecordingControl.h"
#include "record/SoundListener.h"
#include "screenshot/ScreenshotControl.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tavrin::app {

struct CaptureApp;

// Control ids of the control window, as its layout file names them.
constexpr int IDC_RECORD = 1000;
constexpr int IDC_SCREENSHOT = 1005;
constexpr int IDC_STATUS = 1009;
constexpr int IDC_VIDEO_SETTINGS = 1016;
constexpr int IDC_AUDIO_SETTINGS = 1018;
constexpr int IDC_OUTPUT_FOLDER = 1029;
constexpr int IDC_DISPLAY_MODE = 1033;

constexpr std::chrono::milliseconds kBlinkPeriod{350};

struct DisplayModeItem {
    const char* text;
    int32_t displayMode;
    bool splitWindows;
};

// The items of the layout list, in list order.
inline constexpr std::array<DisplayModeItem, 3> displayModeItems = {{
    {"Single window", 6, false},
    {"Split window", 6, true},
    {"Pellan", 7, false},
}};

// Everything the control window does, without the window system: the message
// handlers, the frame dispatch, the command table, the layout list and the
// recording state. Runs on the window's thread only.
class ControlWindowLogic {
  public:
    // The other subsystems, as the control window reaches them. An empty hook
    // or a null part means that part is not in this build; the window then says so.
    struct Services {
        ControlWindowView& view;
        display::DisplayManager& displays;
        record::RecordingControl& recorder;
        screenshot::ScreenshotControl* screenshots = nullptr;
        // offerFirmwareUpdate with this window as the owner.
        std::function<bool()> offerFirmwareUpdate;
        std::function<void()> showVideoCodecDialog;
        std::function<void()> showAudioSettingsDialog;
        std::function<void()> toggleDebugConsole;
        // The status line every part writes to (screenshots, recordings too), over
        // the view's; null: the window keeps one of its own.
        base::NoticeStatusLine* status = nullptr;
        // The picture as a camera for other programs; null when not in this build.
        display::CameraOutput* camera = nullptr;
        // The sound input through the speakers; null when not in this build.
        record::SoundListener* listener = nullptr;
    };

    // The window's state lives in `app` (recording, blinkPhase, screenshotRequested,
    // aviCounter), next to the settings it reads.
    ControlWindowLogic(CaptureApp& app, Services services);
    ControlWindowLogic(const ControlWindowLogic&) = delete;
    ControlWindowLogic& operator=(const ControlWindowLogic&) = delete;

    // The window's initialisation: list items, selection, display windows, focus.
    // `self` receives the UM_FOCUS_DISPLAY posted at its end.
    void initialise(base::MessageTarget& self);

    // A posted message. Returns whether the handler reports it handled.
    bool handleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // UM_FRAME: a frame from the read thread with its first reference, which
    // this handler holds until it hands it on.
    void handleFrame(device::FrameRef frame);
    // A device interface appeared: the board of that class replaces the current
    // device, and is offered new firmware if it asks for it.
    void deviceArrived(const device::DeviceArrival& arrival);
    // A click on a button of the command table.
    void command(int controlId);
    // The user picked list item `index` (-1: none).
    void displayModeSelected(int index);
    // Timer 1, every 350 ms while recording.
    void blinkTimer();

    // List index of the item for a layout, or -1 when no item matches.
    static int displayModeIndex(int32_t displayMode, bool splitWindows);

    bool destroyed() const { return destroyed_; }
    base::NoticeStatusLine& statusLine() { return *status_; }

  private:
    void beginRecording();
    void endRecording();
    // The record button and the settings controls as they are between recordings.
    void showIdle();
    void close();
    void showRecordingStatus();
    // Tells the listener the switch and the sound input as they are now.
    void applyListening();

    CaptureApp& app_;
    Services s_;
    base::NoticeStatusLine ownStatus_;
    base::NoticeStatusLine* status_;
    bool destroyed_ = false;
};

} // namespace tavrin::app

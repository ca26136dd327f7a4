// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ControlWindowLogic.h"
#include "app/ControlWindowView.h"
#include "base/Settings.h"
#include "device/FrameQueue.h"
#include "display/CameraOutput.h"
#include "display/DisplayTarget.h"
#include "record/RecordingControl.h"
#include "record/SoundListener.h"
#include "screenshot/ScreenshotControl.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Fakes for the parts around the control window. Every call is written to one
// shared log so that tests can check the order across parts.
namespace tavrin::testing::controlwindow {

using Log = std::vector<std::string>;

class FakeView : public app::ControlWindowView {
  public:
    explicit FakeView(Log& log) : log_(log) {}

    void setStatusText(const std::string& text) override {
        status = text;
        log_.push_back("status:" + text);
    }
    void setRecordIcon(app::RecordIcon i) override { icon = i; }
    void setRecordChecked(bool c) override { checked = c; }
    void setSettingsControlsEnabled(bool e) override { settingsEnabled = e; }
    void addDisplayModeItem(const std::string& text) override { items.push_back(text); }
    void selectDisplayModeItem(int index) override { selected = index; }
    void startBlinkTimer(std::chrono::milliseconds period) override {
        timerPeriod = period;
        timerRunning = true;
    }
    void stopBlinkTimer() override { timerRunning = false; }
    void focusStatusLine() override { ++focusRequests; }
    void destroyWindow() override {
        windowDestroyed = true;
        log_.push_back("destroyWindow");
    }
    void postQuit(int code) override { log_.push_back("quit:" + std::to_string(code)); }
    void retryLater(std::function<void()> retry, std::chrono::milliseconds delay) override {
        retries.push_back(std::move(retry));
        retryDelay = delay;
    }
    std::vector<std::function<void()>> retries;
    std::chrono::milliseconds retryDelay{0};

    std::string status;
    app::RecordIcon icon = app::RecordIcon::Idle;
    bool checked = false;
    bool settingsEnabled = true;
    std::vector<std::string> items;
    int selected = -2; // never set
    std::chrono::milliseconds timerPeriod{0};
    bool timerRunning = false;
    int focusRequests = 0;
    bool windowDestroyed = false;

  private:
    Log& log_;
};

// Holds the newest frame like a display window: one reference, the previous one released.
class FakeDisplay : public display::DisplayTarget {
  public:
    FakeDisplay(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
    void present(device::FrameRef frame) override {
        log_.push_back(name_ + ".present refs=" + std::to_string(frame->refCount));
        held = std::move(frame);
    }
    void drop() { held.reset(); }
    device::FrameRef held;

  private:
    Log& log_;
    std::string name_;
};

// A camera that a program reads only when `reading` says so; it keeps the newest frame.
class FakeCamera : public display::CameraOutput {
  public:
    explicit FakeCamera(Log& log) : log_(log) {}
    bool wantsFrames() const override { return reading; }
    void present(device::FrameRef frame, const base::PictureOptions&) override {
        log_.push_back("camera.present refs=" + std::to_string(frame->refCount) +
                       " layout=" + std::to_string(frame->layout.layoutId));
        held = std::move(frame);
    }
    void setEnabled(bool on, const base::PictureOptions&) override { enabledCalls.push_back(on); }

    bool reading = false;
    device::FrameRef held;
    std::vector<bool> enabledCalls;

  private:
    Log& log_;
};

// What the listener was told, in order: "on <source>" or "off <source>".
class FakeListener : public record::SoundListener {
  public:
    void listen(bool on, const std::string& source) override {
        calls.push_back((on ? "on " : "off ") + source);
    }
    std::vector<std::string> calls;
};

class FakeDisplayManager : public display::DisplayManager {
  public:
    FakeDisplayManager(Log& log, base::Settings& settings) : log_(log), settings_(settings) {}

    void applyDisplayMode(int layoutId, bool split) override {
        log_.push_back("applyDisplayMode:" + std::to_string(layoutId) + "," + std::to_string(split));
        settings_.displayMode = layoutId;
        settings_.splitWindows = split ? 1 : 0;
        main = std::make_unique<FakeDisplay>(log_, "main");
        bottom = split ? std::make_unique<FakeDisplay>(log_, "bottom") : nullptr;
    }
    void destroyDisplayWindows() override {
        log_.push_back("destroyDisplayWindows");
        bottom.reset();
        main.reset();
    }
    display::DisplayTarget* mainDisplay() override { return main.get(); }
    display::DisplayTarget* bottomDisplay() override { return bottom.get(); }
    void applyTopmost() override { log_.push_back("applyTopmost"); }
    void focusMainDisplay() override { log_.push_back("focusMainDisplay"); }

    std::unique_ptr<FakeDisplay> main;
    std::unique_ptr<FakeDisplay> bottom;

  private:
    Log& log_;
    base::Settings& settings_;
};

// A recorder whose source keeps every frame it is given until told to let go.
class FakeRecording : public record::RecordingControl, public record::ITavrinCaptureApp {
  public:
    explicit FakeRecording(Log& log) : log_(log) {}

    bool startRecording(const std::string& fileName) override {
        log_.push_back("startRecording:" + fileName);
        running = startSucceeds;
        return running;
    }
    void stopRecording() override {
        log_.push_back("stopRecording");
        running = false;
    }
    std::string updateRecordingStatus() override {
        ++statusUpdates;
        if (running && failAtStatusUpdate == statusUpdates) {
            running = false; // as a full disk stops the real recorder
            return "Stopped. The disk is full.";
        }
        return running ? "recording " + std::to_string(statusUpdates) : "Stopped.";
    }
    record::ITavrinCaptureApp* recorderApp() override { return running ? this : nullptr; }
    std::string recoverRecordings() override {
        ++recoveries;
        return std::exchange(recovered, std::string());
    }
    int failAtStatusUpdate = -1;
    std::string recovered; // the note of the next recovery
    int recoveries = 0;
    void prepareSoundInput() override { ++soundInputsPrepared; }
    int soundInputsPrepared = 0;

    record::HRESULT putFrame(const device::FrameRef& frame) override {
        log_.push_back("putFrame refs=" + std::to_string(frame->refCount) +
                       " layout=" + std::to_string(frame->layout.layoutId));
        frames.push_back(frame.share());
        return record::S_OK;
    }
    record::HRESULT getStatistic(int32_t, int64_t*) override { return record::E_FAIL; }
    record::HRESULT setArea(int32_t, int32_t, int32_t) override { return record::S_OK; }
    record::HRESULT stop() override { return record::S_OK; }

    void releaseFrames() { frames.clear(); }

    bool startSucceeds = true;
    bool running = false;
    int statusUpdates = 0;
    std::vector<device::FrameRef> frames;

  private:
    Log& log_;
};

class FakeScreenshots : public screenshot::ScreenshotControl {
  public:
    explicit FakeScreenshots(Log& log) : log_(log) {}
    void startScreenshot(const device::FrameRef& frame) override {
        log_.push_back("startScreenshot refs=" + std::to_string(frame->refCount));
        frames.push_back(frame.share());
    }
    void chooseOutputFolder() override { log_.push_back("chooseOutputFolder"); }
    void releaseFrames() { frames.clear(); }
    std::vector<device::FrameRef> frames;

  private:
    Log& log_;
};

} // namespace tavrin::testing::controlwindow

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Diagnostics.h"
#include "base/Messages.h"
#include "device/CaptureFrame.h"
#include "device/DeviceArrival.h"
#include "device/FrameQueue.h"
#include "device/FrameSink.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavrin::testing {

struct PostedMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// Records every posted message and frame (as a UM_FRAME message). Frames are
// either let go of at once (like a control window with no consumers) or kept
// until the test lets go of them; keep the pool alive until then.
class FakeControlWindow : public device::FrameSink {
  public:
    explicit FakeControlWindow(bool releaseFrames = true) : releaseFrames_(releaseFrames) {}
    ~FakeControlWindow() override { releaseAll(); }

    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard lk(mutex_);
        messages_.push_back({message, wParam, lParam});
        cv_.notify_all();
    }
    void postFrame(device::FrameRef frame) override {
        std::lock_guard lk(mutex_);
        frames_.push_back(frame.get());
        results_.push_back(frame->result);
        bool white = true;
        for (std::size_t i = 0; i < device::kPictureBytes && white; i += 4093)
            white = frame->data[i] == 0xFF;
        allWhite_.push_back(white);
        if (!releaseFrames_)
            held_.push_back(std::move(frame));
        messages_.push_back({base::UM_FRAME, 0, 0});
        cv_.notify_all();
    }
    // Lets go of a kept frame.
    void release(const device::CaptureFrame* frame) {
        device::FrameRef gone;
        std::lock_guard lk(mutex_);
        for (auto& ref : held_)
            if (ref.get() == frame)
                gone = std::move(ref);
        std::erase_if(held_, [](const device::FrameRef& ref) { return !ref; });
    }
    void releaseAll() {
        std::vector<device::FrameRef> gone;
        std::lock_guard lk(mutex_);
        gone.swap(held_);
    }

    std::vector<PostedMessage> messages() const {
        std::lock_guard lk(mutex_);
        return messages_;
    }
    std::vector<uintptr_t> deviceNotices() const {
        std::lock_guard lk(mutex_);
        std::vector<uintptr_t> out;
        for (auto& m : messages_)
            if (m.message == base::UM_DEVICE)
                out.push_back(m.wParam);
        return out;
    }
    std::vector<int32_t> frameResults() const {
        std::lock_guard lk(mutex_);
        return results_;
    }
    std::vector<bool> frameWhite() const {
        std::lock_guard lk(mutex_);
        return allWhite_;
    }
    std::size_t frameCount() const {
        std::lock_guard lk(mutex_);
        return frames_.size();
    }
    // Frames kept by a non-releasing window, in arrival order.
    std::vector<device::CaptureFrame*> heldFrames() const {
        std::lock_guard lk(mutex_);
        return frames_;
    }
    bool waitForFrames(std::size_t n, std::chrono::milliseconds limit) {
        std::unique_lock lk(mutex_);
        return cv_.wait_for(lk, limit, [&] { return frames_.size() >= n; });
    }
    void clear() {
        std::lock_guard lk(mutex_);
        messages_.clear();
        frames_.clear();
        results_.clear();
        allWhite_.clear();
    }

  private:
    bool releaseFrames_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<PostedMessage> messages_;
    std::vector<device::CaptureFrame*> frames_;
    std::vector<device::FrameRef> held_;
    std::vector<int32_t> results_;
    std::vector<bool> allWhite_;
};

// Collects the arrivals an arrival watcher reports, from any thread.
class ArrivalRecorder {
  public:
    device::ArrivalHandler handler() {
        return [this](const device::DeviceArrival& arrival) {
            std::lock_guard lk(mutex_);
            arrivals_.push_back(arrival);
        };
    }
    std::vector<device::DeviceArrival> arrivals() const {
        std::lock_guard lk(mutex_);
        return arrivals_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<device::DeviceArrival> arrivals_;
};

// Collects the diagnostic output while it lives, and keeps it off the terminal.
class DiagnosticCapture {
  public:
    DiagnosticCapture() {
        base::setDiagnosticsToStdout(false);
        id_ = base::addDiagnosticMirror([this](const base::LogLine& line) {
            std::lock_guard lk(mutex_);
            text_.append(line.text);
            lines_.push_back({line.level, line.subsystem, std::string(line.text)});
        });
    }
    ~DiagnosticCapture() {
        base::removeDiagnosticMirror(id_);
        base::setDiagnosticsToStdout(true);
    }
    std::string text() const {
        std::lock_guard lk(mutex_);
        return text_;
    }
    int count(const std::string& needle) const {
        std::string t = text();
        int n = 0;
        for (std::size_t pos = t.find(needle); pos != std::string::npos;
             pos = t.find(needle, pos + needle.size()))
            ++n;
        return n;
    }
    void clear() {
        std::lock_guard lk(mutex_);
        text_.clear();
        lines_.clear();
    }
    struct Line {
        base::LogLevel level;
        base::LogSubsystem subsystem;
        std::string text;
    };
    // Every line as written, with its tags, oldest first.
    std::vector<Line> lines() const {
        std::lock_guard lk(mutex_);
        return lines_;
    }

  private:
    int id_ = 0;
    mutable std::mutex mutex_;
    std::string text_;
    std::vector<Line> lines_;
};

} // namespace tavrin::testing

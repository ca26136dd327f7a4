// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/FirmwareDialogView.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::testing {

// Records what the firmware dialog's logic does to its view. The worker's result is
// queued for the test, which plays the dialog's thread and hands it back.
class FakeFirmwareDialogView : public app::FirmwareDialogView {
  public:
    void setProgress(int perMille) override {
        std::lock_guard lk(mutex_);
        progress_.push_back(perMille);
        calls_.push_back("progress " + std::to_string(perMille));
    }
    void postWorkerFinished(int code) override {
        std::lock_guard lk(mutex_);
        finished_.push_back(code);
        cv_.notify_all();
    }
    void showFailure(const std::string& caption) override { record("failure " + caption); }
    void setStartText(const std::string& text) override { record("text " + text); }
    void setButtonsEnabled(bool enabled) override {
        std::lock_guard lk(mutex_);
        enabled_ = enabled;
        calls_.push_back(enabled ? "enable" : "disable");
    }
    void endDialog(int result) override {
        std::lock_guard lk(mutex_);
        result_ = result;
        calls_.push_back("end " + std::to_string(result));
    }

    // Waits for the worker's result; nullopt if none came within `limit`.
    std::optional<int> waitFinished(std::chrono::milliseconds limit) {
        std::unique_lock lk(mutex_);
        if (!cv_.wait_for(lk, limit, [&] { return !finished_.empty(); }))
            return std::nullopt;
        const int code = finished_.front();
        finished_.pop_front();
        return code;
    }
    bool finishedPosted() const {
        std::lock_guard lk(mutex_);
        return !finished_.empty();
    }
    std::vector<int> progress() const {
        std::lock_guard lk(mutex_);
        return progress_;
    }
    std::vector<std::string> calls() const {
        std::lock_guard lk(mutex_);
        return calls_;
    }
    std::optional<int> result() const {
        std::lock_guard lk(mutex_);
        return result_;
    }
    bool enabled() const {
        std::lock_guard lk(mutex_);
        return enabled_;
    }
    void clearCalls() {
        std::lock_guard lk(mutex_);
        calls_.clear();
        progress_.clear();
    }

  private:
    void record(std::string call) {
        std::lock_guard lk(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<int> progress_;
    std::vector<std::string> calls_;
    std::deque<int> finished_;
    std::optional<int> result_;
    bool enabled_ = false;
};

} // namespace tavrin::testing

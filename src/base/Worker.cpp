// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Worker.h"

#include "base/Diagnostics.h"
#include "base/Os.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>

namespace tavrin::base {

// Shared by the Worker and its thread, so that neither outlives what it touches.
struct WorkerControl::State {
    std::string name;
    std::function<void()> wake;
    std::mutex mutex;
    std::condition_variable cv;
    std::atomic<bool> stop{false};
    uint64_t wakes = 0; // guarded by mutex
    uint64_t seen = 0;  // the wakes a pause has answered; guarded by mutex
    bool ended = false; // guarded by mutex
};

bool WorkerControl::stopRequested() const {
    return state_.stop.load(std::memory_order_acquire);
}

bool WorkerControl::pause(std::chrono::nanoseconds time) const {
    // A wake that came while the body was busy ends the next pause at once.
    std::unique_lock lk(state_.mutex);
    state_.cv.wait_for(lk, time, [&] { return state_.stop.load() || state_.wakes != state_.seen; });
    state_.seen = state_.wakes;
    return !state_.stop.load();
}

Worker::~Worker() {
    if (!thread_.joinable())
        return;
    requestStop();
    // Waits as long as it takes: the owner goes right after, and the body may use it.
    while (!join(kDestroyWarning)) {
    }
}

bool Worker::start(std::string name, std::function<void(const WorkerControl&)> body,
                   std::function<void()> wake) {
    if (thread_.joinable())
        return false;
    auto state = std::make_shared<WorkerControl::State>();
    state->name = std::move(name);
    state->wake = std::move(wake);
    try {
        thread_ = std::thread([state, body = std::move(body)] {
            os::nameThisThread(state->name);
            body(WorkerControl(*state));
            {
                std::lock_guard lk(state->mutex);
                state->ended = true;
            }
            state->cv.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    return true;
}

void Worker::requestStop() {
    if (!state_)
        return;
    {
        std::lock_guard lk(state_->mutex);
        state_->stop.store(true, std::memory_order_release);
    }
    state_->cv.notify_all();
    if (state_->wake)
        state_->wake();
}

void Worker::wake() {
    if (!state_)
        return;
    {
        std::lock_guard lk(state_->mutex);
        ++state_->wakes;
    }
    state_->cv.notify_all();
    if (state_->wake)
        state_->wake();
}

bool Worker::join(std::chrono::milliseconds limit) {
    if (!thread_.joinable())
        return true;
    bool endedInTime;
    {
        // The predicate is looked at again when the time is up, so a lost
        // notification costs at most the limit, never the join.
        std::unique_lock lk(state_->mutex);
        endedInTime = state_->cv.wait_for(lk, limit, [this] { return state_->ended; });
    }
    if (!endedInTime) {
        appLog.warning("thread %s did not end within %lld ms; left running\n", state_->name.c_str(),
                       static_cast<long long>(limit.count()));
        return false;
    }
    thread_.join();
    return true;
}

bool Worker::stop(std::chrono::milliseconds limit) {
    requestStop();
    return join(limit);
}

bool Worker::started() const {
    return thread_.joinable();
}

bool Worker::ended() const {
    if (!state_)
        return true;
    std::lock_guard lk(state_->mutex);
    return state_->ended;
}

const std::string& Worker::name() const {
    static const std::string none;
    return state_ ? state_->name : none;
}

} // namespace tavrin::base

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tavrin::base {

// What a worker's body sees of its worker. Valid for the whole body, whatever
// happens to the Worker object meanwhile.
class WorkerControl {
  public:
    struct State;
    explicit WorkerControl(State& state) : state_(state) {}

    bool stopRequested() const;
    // Waits up to `time`, less when the worker is asked to stop or woken (a
    // wake since the last pause ended counts too). Returns false when it is to stop.
    bool pause(std::chrono::nanoseconds time) const;

  private:
    State& state_;
};

// The one way this program runs a thread: a named thread (what debuggers and
// `top -H` show; at most 15 characters, "tavrin-read", "tavrin-shot", ...) with a
// stop request, a wake and a bounded join.
//
// A thread that does not end within a join's limit is named in a warning and
// left running (not joined, not detached): stop() returns false, and the caller
// keeps alive what the body uses or ends the process (the read thread at
// shutdown). The destructor never lets its owner go under a running body: it
// asks the body to stop and waits, naming the thread in a warning each time
// kDestroyWarning passes. A hang there is visible and names its thread; a
// use-after-free would not be.
class Worker {
  public:
    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts `body` on a thread named `name`. `wake`, when given, is called by
    // requestStop() and wake() after the worker's own pause is woken: it cuts
    // short a wait of the body's own (a frame pool, the owner's condition).
    // False when a thread runs already or none can be started (the body then
    // never runs).
    bool start(std::string name, std::function<void(const WorkerControl&)> body,
               std::function<void()> wake = {});

    // Asks the body to stop and wakes it. Returns at once.
    void requestStop();
    // Ends the body's current or next pause without asking it to stop.
    void wake();
    // Waits up to `limit` for the body to return, then joins the thread. False,
    // with a warning naming the thread, when it still runs: it is left running.
    bool join(std::chrono::milliseconds limit);
    // requestStop() and join(limit). True when no thread runs.
    bool stop(std::chrono::milliseconds limit);

    // A thread was started and not joined yet (it may have ended).
    bool started() const;
    // The body has returned, or none was started.
    bool ended() const;
    const std::string& name() const;

    // How long the destructor waits before each warning.
    static constexpr std::chrono::milliseconds kDestroyWarning{2000};

  private:
    std::shared_ptr<WorkerControl::State> state_;
    std::thread thread_;
};

} // namespace tavrin::base

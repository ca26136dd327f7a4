// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavrin::testing {

// A PulseAudio daemon of the test's own, kept as a child process, in a fresh 0700
// runtime folder, with the two null sinks of the test environment: tavrin_null,
// whose monitor is the default input, and tavrin_speakers, the default output.
// While it lives, PULSE_SERVER, PULSE_RUNTIME_PATH and XDG_RUNTIME_DIR of this
// process name it, so every libpulse client made afterwards reaches it; they are
// put back as they were when it is destroyed.
class PrivateSoundServer {
  public:
    // Starts the daemon; see running() and failure().
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts the daemon again on the same socket, and waits until it answers.
    bool start();
    // Ends the daemon: its clients see the connection end.
    void stop();
    bool running() const { return pid_ > 0; }
    const std::string& failure() const { return failure_; }
    // The daemon's own messages, for a test that failed.
    std::string log() const;
    const std::string& address() const { return address_; }

  private:
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
    };
    std::string folder_;
    std::string address_;
    std::string failure_;
    pid_t pid_ = -1;
    std::vector<SavedVariable> saved_;
};

// Short requests to the sound server that libpulse finds from the environment,
// each on a connection of its own.
bool soundServerAnswers(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
// The new module's index, or nothing when the server refused it.
std::optional<uint32_t> loadSoundModule(const std::string& name, const std::string& arguments);
bool unloadSoundModule(uint32_t index);
// The names of the playback streams (sink inputs) on the server now.
std::optional<std::vector<std::string>> soundServerPlaybackStreams();

} // namespace tavrin::testing

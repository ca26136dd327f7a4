// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/SoundListener.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tavrin::pulse {

// "Listen" through a PulseAudio server (PipeWire's PulseAudio server too): a record
// stream on the chosen input and a playback stream named "Tavrin Capture" on the
// default output, both on one thread of its own, with the queue between them held in
// a narrow band as the two devices' clocks drift.
class PulseListener : public record::SoundListener {
  public:
    struct Options {
        // How long to wait before asking again for a server that did not answer, or
        // an input that is not there.
        std::chrono::milliseconds retry{3000};
        // Each time the output runs dry anyway the delay aimed for (20 ms at first) rises
        // by raiseMs, up to highestMs: a busy machine trades a little delay for no breaks.
        uint32_t raiseMs = 5;
        uint32_t highestMs = 28;
    };

    // What the listener has done so far, for the debug console, tests and the soak.
    struct Figures {
        bool serverAnswers = false; // connected to a sound server now
        bool playing = false;       // both streams are running
        std::string input;          // the server's name of the input being played
        uint64_t underruns = 0;     // times the output ran dry while playing
        uint64_t framesIn = 0;      // read from the input
        uint64_t framesOut = 0;     // written to the output (differs by what pacing took or added)
        uint64_t framesDropped = 0; // thrown away whole to catch up after a stall
        uint64_t streamsOpened = 0; // pairs of streams opened since start
        uint32_t targetMs = 0;      // the delay aimed for now: under-runs raise it
    };

    PulseListener() : PulseListener(Options{}) {}
    explicit PulseListener(Options options);
    ~PulseListener() override;
    PulseListener(const PulseListener&) = delete;
    PulseListener& operator=(const PulseListener&) = delete;

    void listen(bool on, const std::string& source) override;
    Figures figures() const;

  private:
    class Loop;
    std::unique_ptr<Loop> loop_;
};

} // namespace tavrin::pulse

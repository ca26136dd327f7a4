// SPDX-License-Identifier: GPL-2.0-or-later
// Plays the default sound input to the default output as the program's "Listen"
// does, for MINUTES, while the delay meter plays its signal into tavrin_null and
// records what reaches tavrin_speakers; prints a line a minute (markers, delay
// median, 99th percentile and maximum, the output's under-runs, breaks in the tone)
// and the first minute against the last. Used by bench/listen_soak.sh, inside the
// test environment.
//
//   listen_soak [MINUTES] [--loopback=MS] [--interval=SECONDS] [--delays]
//
// --loopback=MS measures the sound server's own loopback at that latency instead
// of the listener (the meter's reference; also the only way in a build without
// the listener). --delays prints every marker's delay.
#include "platform/pulse/DelayMeter.h"
#include "platform/pulse/PrivateSoundServer.h"

#ifdef TAVRIN_SOAK_HAS_LISTENER
#include "platform/pulse/PulseListener.h"
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using namespace tavrin;
using Clock = std::chrono::steady_clock;

namespace {

struct Line {
    testing::DelayMeter::Result result;
    std::optional<uint64_t> underruns;
};

void print(const char* label, const Line& l) {
    const auto& r = l.result;
    std::printf(
        "%s: markers %llu sent, %llu at the input, %llu at the output, %zu paired; delay median %.1f ms, "
        "p99 %.1f ms, max %.1f ms; under-runs %s; breaks %llu",
        label, static_cast<unsigned long long>(r.markersSent),
        static_cast<unsigned long long>(r.markersAtInput), static_cast<unsigned long long>(r.markersAtOutput),
        r.delaysMs.size(), r.median(), r.percentile(99), r.max(),
        l.underruns ? std::to_string(*l.underruns).c_str() : "-", static_cast<unsigned long long>(r.breaks));
    if (r.inputBreaks != 0 || r.playerUnderflows != 0)
        std::printf(" (and %llu at the input, the meter's signal ran dry %llu times)",
                    static_cast<unsigned long long>(r.inputBreaks),
                    static_cast<unsigned long long>(r.playerUnderflows));
    if (!r.reachedSpeakers())
        std::printf("; NOTHING reached the speakers");
    if (!r.failure.empty())
        std::printf("; %s", r.failure.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    std::optional<int> loopbackMs;
    double interval = 60;
    bool delays = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--loopback=", 0) == 0)
            loopbackMs = std::atoi(a.c_str() + 11);
        else if (a.rfind("--interval=", 0) == 0)
            interval = std::atof(a.c_str() + 11);
        else if (a == "--delays")
            delays = true;
        else if (!a.empty() && a[0] != '-')
            minutes = std::atof(a.c_str());
        else {
            std::fprintf(stderr, "usage: %s [MINUTES] [--loopback=MS] [--interval=SECONDS] [--delays]\n",
                         argv[0]);
            return 2;
        }
    }
    if (minutes <= 0 || interval <= 0) {
        std::fprintf(stderr, "MINUTES and the interval must be above zero\n");
        return 2;
    }

    std::optional<uint32_t> loopback;
#ifdef TAVRIN_SOAK_HAS_LISTENER
    std::unique_ptr<pulse::PulseListener> listener;
#endif
    if (loopbackMs) {
        loopback =
            testing::loadSoundModule("module-loopback", "source=tavrin_null.monitor sink=tavrin_speakers "
                                                        "latency_msec=" +
                                                            std::to_string(*loopbackMs));
        if (!loopback) {
            std::fprintf(stderr, "the sound server refused module-loopback\n");
            return 1;
        }
        std::printf("measuring the sound server's loopback at latency_msec=%d\n", *loopbackMs);
    } else {
#ifdef TAVRIN_SOAK_HAS_LISTENER
        listener = std::make_unique<pulse::PulseListener>();
        listener->listen(true, "");
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!listener->figures().playing && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto f = listener->figures();
        if (!f.playing) {
            std::fprintf(stderr, "the listener did not start playing (server answers: %d)\n",
                         f.serverAnswers);
            return 1;
        }
        std::printf("measuring the listener, playing %s\n", f.input.c_str());
#else
        std::fprintf(stderr, "built without the listener: give --loopback=MS\n");
        return 2;
#endif
    }
    auto underruns = [&]() -> std::optional<uint64_t> {
#ifdef TAVRIN_SOAK_HAS_LISTENER
        if (listener)
            return listener->figures().underruns;
#endif
        return std::nullopt;
    };

    testing::DelayMeter meter;
    if (!meter.start()) {
        std::fprintf(stderr, "the meter did not start: %s\n", meter.failure().c_str());
        if (loopback)
            testing::unloadSoundModule(*loopback);
        return 1;
    }
    const auto start = Clock::now();
    const auto intervals = static_cast<int>(std::ceil(minutes * 60 / interval));
    std::optional<Line> first;
    Line last;
    std::optional<uint64_t> underrunsBefore = underruns();
    bool failed = false;
    for (int n = 1; n <= intervals; ++n) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(std::min(n * interval, minutes * 60))));
        Line l;
        // The last interval also waits for the markers still on their way.
        l.result = n == intervals ? meter.stop() : meter.collect();
        if (const auto now = underruns(); now && underrunsBefore) {
            l.underruns = *now - *underrunsBefore;
            underrunsBefore = now;
        }
        const std::string label = interval == 60 ? "minute " + std::to_string(n)
                                                 : "interval " + std::to_string(n) + " (" +
                                                       std::to_string(static_cast<int>(interval)) + " s)";
        print(label.c_str(), l);
        if (delays) {
            for (double d : l.result.delaysMs)
                std::printf(" %.2f", d);
            std::printf("\n");
        }
        failed = failed || !l.result.failure.empty();
        if (!first)
            first = l;
        last = l;
    }
    if (loopback)
        testing::unloadSoundModule(*loopback);

    print("first", *first);
    print("last ", last);
    std::printf("median delay, last against first: %+.1f ms\n",
                last.result.median() - first->result.median());
    return failed ? 1 : 0;
}

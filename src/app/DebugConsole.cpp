// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/DebugConsole.h"

#include "app/CaptureApp.h"
#include "base/Diagnostics.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

namespace tavrin::app {

namespace {

constexpr auto kStatsPeriod = std::chrono::milliseconds(1000);
constexpr uint32_t kG0 = 1u << 5;

} // namespace

DataLineMasks scanDataLines(const uint8_t* picture) {
    // Four words at a time; the 64-bit accumulators fold to 16 bits at the end.
    uint64_t all = ~uint64_t{0};
    uint64_t any = 0;
    for (std::size_t i = 0; i < device::kPictureBytes; i += 8) {
        uint64_t v;
        std::memcpy(&v, picture + i, sizeof v);
        all &= v;
        any |= v;
    }
    const auto fold = [](uint64_t v, bool isAnd) {
        uint32_t r = isAnd ? 0xFFFF : 0;
        for (int k = 0; k < 4; ++k) {
            const auto word = static_cast<uint32_t>((v >> (16 * k)) & 0xFFFF);
            r = isAnd ? (r & word) : (r | word);
        }
        return r;
    };
    // The words are little-endian on the wire; so is every machine we build for.
    static_assert(std::endian::native == std::endian::little);
    return {fold(all, true), ~fold(any, false) & 0xFFFFu};
}

void analyseDataLines(CaptureApp& app, const device::CaptureFrame& frame) {
    const DataLineMasks masks = scanDataLines(frame.data.get());
    app.stuckHigh.store(masks.stuckHigh, std::memory_order_relaxed);
    app.stuckLow.store(masks.stuckLow, std::memory_order_relaxed);
}

void writeStatsLine(CaptureApp& app) {
    const device::UsbDevice* current = app.capture.currentDevice.load();
    if (current && current->state() == device::DEVICE_CLOSED) {
        base::deviceLog.info("Not connected\n");
        app.capture.okCount.store(0, std::memory_order_relaxed);
        return;
    }
    char buffer[64];
    // Taking the count and clearing it in one step loses no frame read meanwhile.
    const int ok = app.capture.okCount.exchange(0, std::memory_order_relaxed);
    std::snprintf(buffer, sizeof buffer, "OK=%d SKIPS=%d ERRORS=%d ", ok,
                  app.capture.skipCount.load(std::memory_order_relaxed),
                  app.capture.errorCount.load(std::memory_order_relaxed));
    std::string line = buffer;
    const uint32_t high = app.stuckHigh.load(std::memory_order_relaxed) & 0xFFFF;
    const uint32_t low = app.stuckLow.load(std::memory_order_relaxed) & 0xFFFF;
    // A G0 line that stays at 0 is not reported; one that stays at 1 is.
    const uint32_t stuck = (low & ~kG0) | high;
    if (stuck != 0) {
        line += "STUCK=";
        for (int bit = 0; bit < 16; ++bit) {
            if (stuck & (1u << bit)) {
                line += lineNames[bit];
                line += ' ';
            }
        }
    }
    std::snprintf(buffer, sizeof buffer, "(%04X%04X)\n", high, low);
    line += buffer;
    base::deviceLog.write(base::LogLevel::Info, line);
}

void statsThread(CaptureApp& app, const base::WorkerControl& control) {
    while (!control.stopRequested()) {
        writeStatsLine(app);
        if (app.stats.sleep)
            app.stats.sleep(kStatsPeriod);
        else
            control.pause(kStatsPeriod);
    }
}

bool startStatsThread(CaptureApp& app) {
    if (app.stats.worker.started())
        return false;
    app.capture.okCount = 0;
    app.capture.skipCount = 0;
    app.capture.errorCount = 0;
    app.stuckHigh = 0;
    app.stuckLow = 0;
    return app.stats.worker.start("tavrin-stats",
                                  [&app](const base::WorkerControl& control) { statsThread(app, control); });
}

void stopStatsThread(CaptureApp& app) {
    // Each pass is one line and a pause the stop cuts short.
    app.stats.worker.stop(std::chrono::seconds(2));
}

} // namespace tavrin::app

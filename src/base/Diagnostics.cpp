// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Diagnostics.h"

#include "base/Worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace tavrin::base {

namespace {

constexpr uint8_t kOff = 4;
constexpr std::array<std::string_view, 4> kLevelNames = {"debug", "info", "warning", "error"};
constexpr std::array<std::string_view, kLogSubsystemCount> kSubsystemNames = {
    "app", "device", "display", "record", "screenshot", "update", "camera"};
// Lines below a warning wait in the standard output's buffer at most about this long.
constexpr auto kFlushDelay = std::chrono::seconds(2);

// One bit per level and subsystem: what at least one destination takes.
uint32_t wantedBit(LogLevel level, LogSubsystem subsystem) {
    return 1u << (static_cast<unsigned>(subsystem) * 4 + static_cast<unsigned>(level));
}

uint32_t wantedBits(const LogFilter& filter) {
    uint32_t bits = 0;
    for (std::size_t s = 0; s < kLogSubsystemCount; ++s)
        for (uint8_t l = 0; l < kLevelNames.size(); ++l)
            if (filter.passes(static_cast<LogLevel>(l), static_cast<LogSubsystem>(s)))
                bits |= wantedBit(static_cast<LogLevel>(l), static_cast<LogSubsystem>(s));
    return bits;
}

std::optional<uint8_t> parseLevel(std::string_view name) {
    if (name == "off")
        return kOff;
    for (std::size_t l = 0; l < kLevelNames.size(); ++l)
        if (kLevelNames[l] == name)
            return static_cast<uint8_t>(l);
    return std::nullopt;
}

struct Mirror {
    int id;
    DiagnosticMirror write;
    LogFilter filter;
};

class Destinations;
Destinations& destinations();

class Destinations {
  public:
    Destinations() {
        const char* setting = std::getenv("TAVRIN_LOG");
        const auto filter = LogFilter::parse(setting ? setting : "");
        if (filter)
            stdoutFilter_ = *filter;
        recompute();
        if (!filter) {
            char text[256];
            const int n = std::snprintf(
                text, sizeof text, "TAVRIN_LOG=\"%.100s\" is not understood; every line is shown\n", setting);
            write({LogLevel::Warning, LogSubsystem::App,
                   std::string_view(text, std::min<std::size_t>(static_cast<std::size_t>(std::max(n, 0)),
                                                                sizeof text - 1))});
        }
    }

    bool wanted(LogLevel level, LogSubsystem subsystem) const {
        return (wanted_.load(std::memory_order_acquire) & wantedBit(level, subsystem)) != 0;
    }

    void write(const LogLine& line) {
        std::lock_guard lk(mutex_);
        if (toStdout_ && stdoutFilter_.passes(line.level, line.subsystem)) {
            std::fwrite(line.text.data(), 1, line.text.size(), stdout);
            if (line.level >= LogLevel::Warning || !startFlusher()) {
                std::fflush(stdout);
                pending_ = false;
            } else if (!pending_) {
                pending_ = true;
                flusherWake_.notify_one();
            }
        }
        for (const Mirror& mirror : mirrors_)
            if (mirror.filter.passes(line.level, line.subsystem))
                mirror.write(line);
    }

    int add(DiagnosticMirror mirror, const LogFilter& filter) {
        std::lock_guard lk(mutex_);
        const int id = nextId_++;
        mirrors_.push_back({id, std::move(mirror), filter});
        recompute();
        return id;
    }
    void remove(int id) {
        std::lock_guard lk(mutex_);
        std::erase_if(mirrors_, [id](const Mirror& m) { return m.id == id; });
        recompute();
    }
    void setToStdout(bool on) {
        std::lock_guard lk(mutex_);
        toStdout_ = on;
        recompute();
    }
    void setStdoutFilter(const LogFilter& filter) {
        std::lock_guard lk(mutex_);
        stdoutFilter_ = filter;
        recompute();
    }
    void flush() {
        std::lock_guard lk(mutex_);
        std::fflush(stdout);
        pending_ = false;
    }

    // Before the process ends (atexit): the flusher is stopped and joined, and
    // lines written after it go out at once.
    void stopFlusher() {
        {
            std::lock_guard lk(mutex_);
            flusherStopped_ = true;
        }
        flusher_.stop(std::chrono::milliseconds(1000));
        flush();
    }

  private:
    // Under mutex_. The thread that writes out what waits in the buffer
    // ("tavrin-log"), started with the first line that waits; false when no
    // thread can be started, or the process is ending.
    bool startFlusher() {
        if (flusherStarted_)
            return !flusherStopped_;
        if (flusherStopped_)
            return false;
        const bool started = flusher_.start(
            "tavrin-log", [this](const WorkerControl& control) { runFlusher(control); },
            [this] {
                // Under the mutex, so the flusher is either waiting or yet to look.
                std::lock_guard lk(mutex_);
                flusherWake_.notify_all();
            });
        if (!started)
            return false;
        flusherStarted_ = true;
        std::atexit([] { destinations().stopFlusher(); });
        return true;
    }

    void runFlusher(const WorkerControl& control) {
        std::unique_lock lk(mutex_);
        while (!control.stopRequested()) {
            flusherWake_.wait(lk, [&] { return pending_ || control.stopRequested(); });
            // Lines gather meanwhile; a warning may write them out first.
            flusherWake_.wait_for(lk, kFlushDelay, [&] { return !pending_ || control.stopRequested(); });
            if (pending_) {
                std::fflush(stdout);
                pending_ = false;
            }
        }
    }

    void recompute() {
        uint32_t bits = toStdout_ ? wantedBits(stdoutFilter_) : 0;
        for (const Mirror& mirror : mirrors_)
            bits |= wantedBits(mirror.filter);
        wanted_.store(bits, std::memory_order_release);
    }

    std::mutex mutex_;
    std::vector<Mirror> mirrors_;
    int nextId_ = 1;
    bool toStdout_ = true;
    LogFilter stdoutFilter_;
    std::atomic<uint32_t> wanted_{0};
    bool pending_ = false; // standard output holds lines not yet written out
    bool flusherStarted_ = false;
    bool flusherStopped_ = false;
    std::condition_variable flusherWake_;
    Worker flusher_;
};

// Never destroyed: lines may come from threads that outlive static destruction,
// and the flusher thread uses it to the end.
Destinations& destinations() {
    static Destinations* d = new Destinations;
    return *d;
}

} // namespace

std::string_view logLevelName(LogLevel level) {
    return kLevelNames.at(static_cast<std::size_t>(level));
}

std::string_view logSubsystemName(LogSubsystem subsystem) {
    return kSubsystemNames.at(static_cast<std::size_t>(subsystem));
}

LogFilter::LogFilter() {
    lowest_.fill(static_cast<uint8_t>(LogLevel::Debug));
}

std::optional<LogFilter> LogFilter::parse(std::string_view text) {
    std::optional<uint8_t> all;
    std::array<std::optional<uint8_t>, kLogSubsystemCount> own{};
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty())
            continue;
        const std::size_t colon = item.find(':');
        const auto level = parseLevel(colon == std::string_view::npos ? item : item.substr(colon + 1));
        if (!level)
            return std::nullopt;
        if (colon == std::string_view::npos) {
            all = level;
            continue;
        }
        const auto name = std::find(kSubsystemNames.begin(), kSubsystemNames.end(), item.substr(0, colon));
        if (name == kSubsystemNames.end())
            return std::nullopt;
        own[static_cast<std::size_t>(name - kSubsystemNames.begin())] = level;
    }
    LogFilter filter;
    for (std::size_t s = 0; s < kLogSubsystemCount; ++s)
        filter.lowest_[s] = own[s].value_or(all.value_or(static_cast<uint8_t>(LogLevel::Debug)));
    return filter;
}

bool LogFilter::passes(LogLevel level, LogSubsystem subsystem) const {
    return static_cast<uint8_t>(level) >= lowest_.at(static_cast<std::size_t>(subsystem));
}

void LogFilter::setLowest(LogSubsystem subsystem, std::optional<LogLevel> lowest) {
    lowest_.at(static_cast<std::size_t>(subsystem)) = lowest ? static_cast<uint8_t>(*lowest) : kOff;
}

void Log::vwrite(LogLevel level, const char* format, va_list args) const {
    Destinations& d = destinations();
    if (!d.wanted(level, subsystem_))
        return; // nobody takes it: not even formatted
    char buffer[1024];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return;
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1);
    d.write({level, subsystem_, std::string_view(buffer, length)});
}

#define TAVRIN_LOG_AT(name, level)                                                                           \
    void Log::name(const char* fmt, ...) const {                                                             \
        va_list args;                                                                                        \
        va_start(args, fmt);                                                                                 \
        vwrite(level, fmt, args);                                                                            \
        va_end(args);                                                                                        \
    }
TAVRIN_LOG_AT(debug, LogLevel::Debug)
TAVRIN_LOG_AT(info, LogLevel::Info)
TAVRIN_LOG_AT(warning, LogLevel::Warning)
TAVRIN_LOG_AT(error, LogLevel::Error)
#undef TAVRIN_LOG_AT

void Log::write(LogLevel level, std::string_view text) const {
    Destinations& d = destinations();
    if (!text.empty() && d.wanted(level, subsystem_))
        d.write({level, subsystem_, text});
}

int addDiagnosticMirror(DiagnosticMirror mirror, const LogFilter& filter) {
    return destinations().add(std::move(mirror), filter);
}

void removeDiagnosticMirror(int id) {
    destinations().remove(id);
}

void setDiagnosticsToStdout(bool on) {
    destinations().setToStdout(on);
}

void setStdoutLogFilter(const LogFilter& filter) {
    destinations().setStdoutFilter(filter);
}

void flushDiagnostics() {
    destinations().flush();
}

} // namespace tavrin::base

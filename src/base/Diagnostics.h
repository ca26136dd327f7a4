// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace tavrin::base {

// Diagnostic lines: each written whole, with a level and the subsystem it is
// about, to standard output and to every mirror (the debug console window shows
// them while it is open). The text of a line is exactly what the writer gave,
// its line feed included where it has one. Thread-safe.

enum class LogLevel : uint8_t { Debug, Info, Warning, Error };
enum class LogSubsystem : uint8_t { App, Device, Display, Record, Screenshot, Update, Camera };
inline constexpr std::size_t kLogSubsystemCount = 7;

std::string_view logLevelName(LogLevel level);
std::string_view logSubsystemName(LogSubsystem subsystem);

struct LogLine {
    LogLevel level;
    LogSubsystem subsystem;
    std::string_view text;
};

// Which lines pass: the lowest level shown, per subsystem (or none at all).
class LogFilter {
  public:
    // Every line of every subsystem.
    LogFilter();

    // A comma-separated list: a level ("debug", "info", "warning", "error" or
    // "off") for every subsystem, and "subsystem:level" for one of them, which
    // wins over the bare level wherever it stands. Empty text is every line; no
    // filter when any item is not understood.
    static std::optional<LogFilter> parse(std::string_view text);

    bool passes(LogLevel level, LogSubsystem subsystem) const;
    // `lowest` absent: nothing of this subsystem passes.
    void setLowest(LogSubsystem subsystem, std::optional<LogLevel> lowest);

  private:
    std::array<uint8_t, kLogSubsystemCount> lowest_{}; // a LogLevel, or kOff
};

// Formats are checked as the C library that prints them reads them: MinGW's "printf"
// is the Microsoft one, which knows no %zu, but the C++ library prints through
// MinGW's own, GNU-compatible one.
#if defined(__MINGW32__)
#define TAVRIN_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define TAVRIN_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

// Writes the lines of one subsystem. Formats are printf's, checked when compiling.
class Log {
  public:
    constexpr explicit Log(LogSubsystem subsystem) : subsystem_(subsystem) {}

    void debug(const char* format, ...) const TAVRIN_PRINTF_FORMAT(2, 3);
    void info(const char* format, ...) const TAVRIN_PRINTF_FORMAT(2, 3);
    void warning(const char* format, ...) const TAVRIN_PRINTF_FORMAT(2, 3);
    void error(const char* format, ...) const TAVRIN_PRINTF_FORMAT(2, 3);
    // A line made elsewhere, written as it is.
    void write(LogLevel level, std::string_view text) const;

    LogSubsystem subsystem() const { return subsystem_; }

  private:
    void vwrite(LogLevel level, const char* format, va_list args) const TAVRIN_PRINTF_FORMAT(3, 0);

    LogSubsystem subsystem_;
};

inline constexpr Log appLog{LogSubsystem::App};
inline constexpr Log deviceLog{LogSubsystem::Device};
inline constexpr Log displayLog{LogSubsystem::Display};
inline constexpr Log recordLog{LogSubsystem::Record};
inline constexpr Log screenshotLog{LogSubsystem::Screenshot};
inline constexpr Log updateLog{LogSubsystem::Update};
inline constexpr Log cameraLog{LogSubsystem::Camera};

using DiagnosticMirror = std::function<void(const LogLine& line)>;

// Mirrors are called on the writing thread with the lines `filter` passes; they
// must only hand the line on. Once removeDiagnosticMirror returns, no writer is
// inside that mirror any more.
int addDiagnosticMirror(DiagnosticMirror mirror, const LogFilter& filter = LogFilter());
void removeDiagnosticMirror(int id);

// Standard output can be switched off (tests that produce thousands of lines).
void setDiagnosticsToStdout(bool on);
// What standard output shows. At start: TAVRIN_LOG, in LogFilter::parse's form.
void setStdoutLogFilter(const LogFilter& filter);
// Standard output is flushed after a warning or an error, about two seconds after
// any other line (by a thread of its own, once for all lines of that second),
// and at exit; this writes out what waits now.
void flushDiagnostics();

} // namespace tavrin::base

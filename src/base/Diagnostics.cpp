// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace tavrin::base {

namespace {

struct Mirrors {
    std::mutex mutex;
    std::vector<std::pair<int, DiagnosticMirror>> list;
    int nextId = 1;
    bool toStdout = true;
};

Mirrors& mirrors() {
    static Mirrors m;
    return m;
}

} // namespace

void debugWrite(std::string_view text) {
    auto& m = mirrors();
    std::lock_guard lk(m.mutex);
    if (m.toStdout) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    for (auto& [id, mirror] : m.list)
        mirror(text);
}

void debugPrintf(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        return;
    debugWrite(std::string_view(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1)));
}

int addDiagnosticMirror(DiagnosticMirror mirror) {
    auto& m = mirrors();
    std::lock_guard lk(m.mutex);
    int id = m.nextId++;
    m.list.emplace_back(id, std::move(mirror));
    return id;
}

void removeDiagnosticMirror(int id) {
    auto& m = mirrors();
    std::lock_guard lk(m.mutex);
    std::erase_if(m.list, [id](const auto& entry) { return entry.first == id; });
}

void setDiagnosticsToStdout(bool on) {
    auto& m = mirrors();
    std::lock_guard lk(m.mutex);
    m.toStdout = on;
}

} // namespace tavrin::base

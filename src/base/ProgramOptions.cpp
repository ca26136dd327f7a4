// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/ProgramOptions.h"

#include "base/Diagnostics.h"
#include "base/Os.h"
#include "base/Settings.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tavrin::base {

namespace {

constexpr const char* kOptionsFileName = "options.conf";

std::string_view trim(std::string_view s) {
    const auto notSpace = [](char c) { return c != ' ' && c != '\t' && c != '\r'; };
    while (!s.empty() && !notSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && !notSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

void warnBadValue(std::string_view key, std::string_view found, std::string_view used) {
    appLog.warning("options.conf: %.*s=%.*s is not a valid value; using %.*s\n", static_cast<int>(key.size()),
                   key.data(), static_cast<int>(found.size()), found.data(), static_cast<int>(used.size()),
                   used.data());
}

} // namespace

OptionsText OptionsText::parse(std::string_view text) {
    OptionsText out;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A Windows line end goes with the spaces; other lines are kept byte for byte.
        const std::string_view trimmed = trim(line);
        const std::size_t eq = trimmed.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : trim(trimmed.substr(0, eq));
        if (key.empty() || trimmed.front() == '#')
            out.lines_.push_back({std::string(), std::string(line)});
        else
            out.lines_.push_back({std::string(key), std::string(trim(trimmed.substr(eq + 1)))});
    }
    return out;
}

std::optional<std::string_view> OptionsText::value(std::string_view key) const {
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
        if (!it->key.empty() && it->key == key)
            return it->value;
    return std::nullopt;
}

void OptionsText::set(std::string_view key, std::string_view value) {
    bool placed = false;
    for (auto it = lines_.begin(); it != lines_.end();) {
        if (it->key != key || key.empty()) {
            ++it;
        } else if (!placed) {
            it->value = value;
            placed = true;
            ++it;
        } else {
            it = lines_.erase(it);
        }
    }
    if (!placed)
        lines_.push_back({std::string(key), std::string(value)});
}

std::string OptionsText::text() const {
    std::string out;
    for (const Line& line : lines_) {
        if (!line.key.empty())
            out.append(line.key).append("=");
        out.append(line.value).append("\n");
    }
    return out;
}

bool readFlag(const OptionsText& text, std::string_view key, bool fallback) {
    const auto found = text.value(key);
    if (!found)
        return fallback;
    if (*found == "1" || *found == "0")
        return *found == "1";
    warnBadValue(key, *found, fallback ? "1" : "0");
    return fallback;
}

int32_t readInteger(const OptionsText& text, std::string_view key, int32_t fallback, int32_t lowest,
                    int32_t highest) {
    const auto found = text.value(key);
    if (!found)
        return fallback;
    int32_t v = 0;
    const char* end = found->data() + found->size();
    const auto [ptr, ec] = std::from_chars(found->data(), end, v);
    if (ec == std::errc() && ptr == end && v >= lowest && v <= highest)
        return v;
    warnBadValue(key, *found, std::to_string(fallback));
    return fallback;
}

std::size_t readChoice(const OptionsText& text, std::string_view key,
                       const std::vector<std::string_view>& choices, std::size_t fallback) {
    const auto found = text.value(key);
    if (!found)
        return fallback;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (*found == choices[i])
            return i;
    warnBadValue(key, *found, choices[fallback]);
    return fallback;
}

namespace {

const std::vector<std::string_view> kArrangements{"stacked", "side-by-side"};
const std::vector<std::string_view> kRotations{"0", "90", "180", "270"};

} // namespace

std::string optionsFilePath(UserFolders& folders) {
    const std::string settings = settingsFilePath(folders);
    if (settings.empty())
        return {};
    return os::fromPath(os::toPath(settings).replace_filename(kOptionsFileName));
}

void loadProgramOptions(ProgramOptions& options, UserFolders& folders) {
    const auto inBuild = options.inBuild; // what the build can do is not the file's to say
    options = ProgramOptions{};
    options.inBuild = inBuild;
    const std::string path = optionsFilePath(folders);
    if (path.empty())
        return;
    std::ifstream in(os::toPath(path), std::ios::binary);
    if (!in)
        return;
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    options.stored = OptionsText::parse(bytes);
    options.camera = readFlag(options.stored, "camera", options.camera);
    options.listen = readFlag(options.stored, "listen", options.listen);
    PictureOptions& p = options.picture;
    p.arrangement = static_cast<Arrangement>(readChoice(options.stored, "arrangement", kArrangements, 0));
    p.gap = readInteger(options.stored, "gap", 0, 0, PictureOptions::kMaxGap);
    p.swap = readFlag(options.stored, "swap", false);
    p.rotation = static_cast<int32_t>(readChoice(options.stored, "rotation", kRotations, 0)) * 90;
    p.integerScale = readFlag(options.stored, "integer_scale", false);
}

bool saveProgramOptions(ProgramOptions& options, UserFolders& folders, FileCalls& calls) {
    const std::string path = optionsFilePath(folders);
    if (path.empty())
        return false;
    options.stored.set("camera", options.camera ? "1" : "0");
    options.stored.set("listen", options.listen ? "1" : "0");
    const PictureOptions& p = options.picture;
    options.stored.set("arrangement", kArrangements[p.arrangement == Arrangement::SideBySide ? 1 : 0]);
    options.stored.set("gap", std::to_string(p.gap));
    options.stored.set("swap", p.swap ? "1" : "0");
    options.stored.set("rotation", std::to_string(p.rotation));
    options.stored.set("integer_scale", p.integerScale ? "1" : "0");
    const std::string text = options.stored.text();
    std::error_code ec;
    std::filesystem::create_directories(os::toPath(path).parent_path(), ec);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (replaceFile(path, {std::span<const uint8_t>(bytes, text.size())}, calls))
        return true;
    appLog.error("saveProgramOptions: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

} // namespace tavrin::base

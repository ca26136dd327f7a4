// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tavrin::testing {

// The names of this process's threads as the system shows them (Linux); empty elsewhere.
inline std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream in(task.path() / "comm");
        std::string name;
        if (std::getline(in, name))
            names.push_back(name);
    }
    return names;
}

} // namespace tavrin::testing

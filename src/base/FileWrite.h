// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <sys/types.h>

namespace tavrin::base {

// The system calls replaceFile makes. Tests put faults in here (a disk that
// fills up half-way, a sync that fails); the program uses systemFileCalls().
class FileCalls {
  public:
    virtual ~FileCalls() = default;
    // mkstemp: `pathTemplate` ends in "XXXXXX", which is replaced by the name made.
    virtual int makeTemporary(std::string& pathTemplate);
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual int sync(int fd);
    virtual int rename(const std::string& from, const std::string& to);
};
FileCalls& systemFileCalls();

// Writes all `size` bytes to `fd`, going on after short writes and interruptions.
bool writeAll(int fd, const void* data, std::size_t size, FileCalls& calls = systemFileCalls());

// Writes `parts` one after another to a temporary file beside `path`, flushes it
// to disk and renames it over `path`, so a crash or a full disk never leaves a
// truncated file. A file that was there keeps its mode; a new one is private.
// On failure the old file is untouched, the temporary file is gone, and errno
// says why.
bool replaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
                 FileCalls& calls = systemFileCalls());

} // namespace tavrin::base

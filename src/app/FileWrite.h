#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace tavrin::app {

// Writes all `size` bytes to `fd`, going on after short writes and interruptions.
bool writeAll(int fd, const void* data, std::size_t size);

// Writes `parts` one after another to a temporary file beside `path`, flushes it
// to disk and renames it over `path`, so a crash or a full disk never leaves a
// truncated file. A file that was there keeps its mode; a new one is private.
// On failure the old file is untouched, the temporary file is gone, and errno
// says why.
bool replaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts);

} // namespace tavrin::app

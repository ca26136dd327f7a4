// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/FileWrite.h"

#include "base/Os.h"

#include <cerrno>

namespace tavrin::base {

int FileCalls::makeTemporary(std::string& pathTemplate) {
    return os::makeTemporaryFile(pathTemplate);
}
ssize_t FileCalls::write(int fd, const void* data, std::size_t size) {
    return static_cast<ssize_t>(os::writeFile(fd, data, size));
}
int FileCalls::sync(int fd) {
    return os::flushToDisk(fd);
}
int FileCalls::rename(const std::string& from, const std::string& to) {
    return os::renameOver(from, to);
}

FileCalls& systemFileCalls() {
    static FileCalls calls;
    return calls;
}

bool writeAll(int fd, const void* data, std::size_t size, FileCalls& calls) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = calls.write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool replaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts,
                 FileCalls& calls) {
    std::string temp = path + ".XXXXXX";
    const int fd = calls.makeTemporary(temp);
    if (fd < 0)
        return false;
    os::copyAccessMode(path, fd);
    bool ok = true;
    for (const auto& part : parts)
        ok = ok && writeAll(fd, part.data(), part.size(), calls);
    // On disk before the rename: otherwise a crash soon after can leave the new
    // name on an empty file.
    ok = ok && calls.sync(fd) == 0;
    int error = ok ? 0 : errno;
    if (os::closeFile(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && calls.rename(temp, path) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        os::removeFile(temp);
        errno = error;
    }
    return ok;
}

} // namespace tavrin::base

#include "app/FileWrite.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::app {

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
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

bool replaceFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);
    bool ok = true;
    for (const auto& part : parts)
        ok = ok && writeAll(fd, part.data(), part.size());
    ok = ok && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

} // namespace tavrin::app

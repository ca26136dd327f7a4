// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviFileSink.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

#include "base/Diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavrin::media {

namespace {
constexpr int kBufferSize = 64 * 1024;
}

base::Result<std::unique_ptr<AviFileSink>> AviFileSink::create(const std::string& path, int64_t diskLimit) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return base::Error{errno, "Cannot create " + path + " (" + std::strerror(errno) +
                                      "): choose another output folder."};
    std::unique_ptr<AviFileSink> sink(new AviFileSink(fd, path, diskLimit));
    // The marker says "unfinished" until the file is complete; its lock says that this
    // program is writing it, and goes with the program however it ends.
    sink->markerPath_ = unfinishedMarkerPath(path);
    sink->markerFd_ =
        ::open(sink->markerPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (sink->markerFd_ >= 0)
        ::flock(sink->markerFd_, LOCK_EX | LOCK_NB);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer)
        sink->io_ = avio_alloc_context(buffer, kBufferSize, 1, sink.get(), nullptr, &AviFileSink::writePacket,
                                       &AviFileSink::seek);
    if (!sink->io_) {
        av_free(buffer);
        sink->remove();
        return base::Error{ENOMEM, "Out of memory."};
    }
    return sink;
}

AviFileSink::AviFileSink(int fd, std::string path, int64_t diskLimit)
    : AviFile(fd), path_(std::move(path)), limit_(diskLimit) {}

AviFileSink::~AviFileSink() {
    close();
}

void AviFileSink::close() {
    if (io_) {
        avio_flush(io_);
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0) {
        if (allocated_ > size_.load())
            if (::ftruncate(fd_, size_.load()) != 0) // gives back the room kept beyond the file
                base::recordLog.warning("AVI writer: the room kept beyond the file stays\n");
        if (::close(fd_) != 0 && !failed())
            fail(errno);
        fd_ = -1;
    }
    if (markerFd_ >= 0) {
        ::close(markerFd_);
        markerFd_ = -1;
    }
}

void AviFileSink::noteKeyFrames(const KeyFrameRanges& ranges) {
    if (markerFd_ < 0 || ranges.empty())
        return;
    std::string text;
    char line[48];
    for (const auto& [first, last] : ranges) {
        std::snprintf(line, sizeof line, "%lld %lld\n", static_cast<long long>(first),
                      static_cast<long long>(last));
        text += line;
    }
    if (::write(markerFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        base::recordLog.warning("AVI writer: the recording's marker cannot be written\n");
}

void AviFileSink::markFinished() {
    if (markerPath_.empty())
        return;
    ::unlink(markerPath_.c_str());
    markerPath_.clear();
    if (markerFd_ >= 0) {
        ::close(markerFd_);
        markerFd_ = -1;
    }
}

bool AviFileSink::ensureRoom(int64_t end) {
    if (limit_ >= 0)
        return end <= limit_;
    if (!canReserve_ || end <= allocated_)
        return true;
    // Held well ahead, so that this asks the system once every few seconds of recording.
    constexpr int64_t kStep = 16 << 20;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, allocated_, end + kStep - allocated_) == 0) {
        allocated_ = end + kStep;
        return true;
    }
    if (errno == ENOSPC || errno == EDQUOT) {
        if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, allocated_, end - allocated_) == 0) {
            allocated_ = end;
            return true;
        }
        return false;
    }
    canReserve_ = false; // not on this filesystem: a full disk shows when a write fails
    return true;
}

bool AviFileSink::write(int64_t offset, const void* data, std::size_t size) {
    if (limit_ >= 0 && offset + static_cast<int64_t>(size) > limit_)
        return false;
    return AviFile::write(offset, data, size);
}

void AviFileSink::startWriteback() {
    if (fd_ >= 0)
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void AviFileSink::remove() {
    close();
    ::unlink(path_.c_str());
    markFinished();
}

void AviFileSink::fail(int error) {
    if (!failed_.exchange(true))
        error_.store(error);
}

base::Error AviFileSink::failure() const {
    const int e = error_.load();
    if (e == ENOSPC)
        return {record::E_DISK_FULL, "The disk is full: free some space or choose another output folder."};
    if (e == EDQUOT)
        return {record::E_DISK_FULL,
                "The disk quota is used up: free some space or choose another output folder."};
    return {record::E_FAIL, std::string("Writing the file failed (") + std::strerror(e) +
                                "): check the output folder, or choose another one."};
}

int AviFileSink::writePacket(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<AviFileSink*>(opaque);
    const int64_t start = self->pos_;
    int64_t length = size;
    // The file grows only while the disk keeps room for its index beyond it.
    if (!self->failed() && start + length > self->size_.load() &&
        !self->ensureRoom(start + length + self->reserve_.load()))
        self->fail(ENOSPC);
    if (self->failed()) {
        // Only what lies inside the file: header fields being patched in place.
        length = std::max<int64_t>(0, std::min<int64_t>(length, self->size_.load() - start));
    }
    int64_t done = 0;
    while (done < length) {
        const int64_t chunk = length - done;
        const ssize_t n = ::pwrite(self->fd_, buf + done, static_cast<std::size_t>(chunk), start + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            self->fail(errno);
            break;
        }
        if (n == 0) {
            self->fail(ENOSPC);
            break;
        }
        done += n;
        const int64_t end = start + done;
        if (end > self->size_.load())
            self->size_.store(end);
    }
    // libavformat is told that everything was written: once the disk has refused, an
    // error here would stop it from finishing the headers of what is in the file.
    self->pos_ = start + size;
    self->logical_ = std::max(self->logical_, self->pos_);
    return size;
}

int64_t AviFileSink::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AviFileSink*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->logical_;
    case SEEK_SET:
        self->pos_ = offset;
        break;
    case SEEK_CUR:
        self->pos_ += offset;
        break;
    case SEEK_END:
        self->pos_ = self->logical_ + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    return self->pos_;
}

} // namespace tavrin::media

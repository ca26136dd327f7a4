// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "platform/media/AviFinisher.h"
#include "record/MediaTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct AVIOContext;

namespace tavrin::media {

// The file under the AVI multiplexer: libavformat writes through it. It counts
// the bytes that are really in the file, and when the disk refuses more (full,
// gone, or a size limit given for tests) it keeps the file as far as it got:
// later writes inside the file still happen (libavformat patching its headers),
// writes past the end are dropped, and the multiplexer is told to stop.
class AviFileSink : public AviFile {
  public:
    // Creates or truncates `path`. `diskLimit` >= 0 behaves as a disk with that much room.
    static base::Result<std::unique_ptr<AviFileSink>> create(const std::string& path, int64_t diskLimit);
    ~AviFileSink() override;
    AviFileSink(const AviFileSink&) = delete;
    AviFileSink& operator=(const AviFileSink&) = delete;

    AVIOContext* io() const { return io_; }
    bool failed() const { return failed_.load(); }
    // What went wrong and what to do (E_DISK_FULL for a full disk, else E_FAIL).
    base::Error failure() const;

    // Asks the system to start writing what the file holds to the disk, without waiting.
    void startWriteback();
    // Keeps this much room on the disk beyond the file for its index: the recording
    // counts as stopped by a full disk while the room is still there.
    void setIndexReserve(int64_t bytes) { reserve_.store(bytes); }
    // Writes into the file or the room kept beyond it, also after a failure (to finish it).
    bool write(int64_t offset, const void* data, std::size_t size) override;
    // Adds key frames to the marker that stands beside the file while it is unfinished.
    void noteKeyFrames(const KeyFrameRanges& ranges);
    // The file is complete: its marker goes.
    void markFinished();

    // Flushes libavformat's buffer and closes the file.
    void close();
    // Removes the file (a recording that never got its header).
    void remove();

  private:
    AviFileSink(int fd, std::string path, int64_t diskLimit);
    static int writePacket(void* opaque, uint8_t* buf, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);
    void fail(int error);
    // Room on the disk for the file up to `end`.
    bool ensureRoom(int64_t end);

    std::string path_;
    int64_t limit_;
    int64_t pos_ = 0;     // where libavformat believes it is
    int64_t logical_ = 0; // the size libavformat believes the file has
    std::atomic<bool> failed_{false};
    std::atomic<int> error_{0};
    AVIOContext* io_ = nullptr;
    std::atomic<int64_t> reserve_{0};
    int64_t allocated_ = 0;  // blocks held for the file (and its index) so far
    bool canReserve_ = true; // the filesystem keeps room ahead of a file
    std::string markerPath_;
    int markerFd_ = -1; // open and locked while the recording runs
};

} // namespace tavrin::media

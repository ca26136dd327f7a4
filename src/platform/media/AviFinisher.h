// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::media {

// Video slots (chunk numbers of the first video stream) that hold key frames, as
// closed ranges in increasing order.
using KeyFrameRanges = std::vector<std::pair<int64_t, int64_t>>;

// Adds slot `n` to `ranges`, joining it to the last range when it follows it.
void addKeyFrame(KeyFrameRanges& ranges, int64_t n);

inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline bool isTag(const uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}
// Whether the 24 bytes at `p` open a further RIFF of an OpenDML file, with its movi list.
inline bool isAvixStart(const uint8_t* p) {
    return isTag(p, "RIFF") && isTag(p + 8, "AVIX") && isTag(p + 12, "LIST") && isTag(p + 20, "movi");
}
// The stream a chunk's id ("01wb") names, or -1.
inline int chunkStream(const uint8_t* id) {
    const bool digits = id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9';
    return digits ? (id[0] - '0') * 10 + (id[1] - '0') : -1;
}
// A chunk's size in the file: odd sizes are padded to even.
inline int64_t padded(uint32_t size) {
    return static_cast<int64_t>(size) + (size & 1);
}

// An AVI file being written or finished, read and patched in place.
class AviFile {
  public:
    // Takes `fd` (not its ownership) and the size it has now. `limit` >= 0 behaves as
    // a disk with that much room.
    explicit AviFile(int fd, int64_t limit = -1);
    // Bytes in the file now; any thread.
    int64_t size() const { return size_.load(); }
    // Reads bytes that are in the file; false if they are not all there.
    bool read(int64_t offset, void* data, std::size_t size) const;
    // Writes all of `data`, or what the disk takes of it; false with errno set if not all.
    bool write(int64_t offset, const void* data, std::size_t size);

  protected:
    int fd_;
    int64_t limit_;
    std::atomic<int64_t> size_{0};
};

// Where the counts of an AVI file laid out as libavformat writes it sit, read from its header.
struct AviLayout {
    struct Stream {
        bool video = false;
        int64_t lengthField = -1; // strh dwLength
        uint32_t blockAlign = 0;  // sound: bytes a sample frame
    };
    std::vector<Stream> streams;
    int64_t avihFrames = -1; // avih dwTotalFrames
    int64_t odml = -1;       // the extended header's chunk (JUNK until the file passes 1 GiB)
    int64_t movi = -1;       // the first RIFF's LIST movi
};
base::Result<AviLayout> readAviLayout(const AviFile& file);

bool write32(AviFile& file, int64_t offset, uint32_t value);
// Sets each stream's length and the frame count: in the main header, or in the extended
// header of an OpenDML file (past 1 GiB), which then says that it is one.
void writeCounts(AviFile& file, const AviLayout& layout, const std::vector<int64_t>& lengths, bool openDml);

// Finishes an AVI file of ours whose writing stopped early (a crash, a power cut, a
// full disk). What the file holds stays as it is: a chunk cut short at the end is
// turned into padding, an idx1 index of the chunks is appended when the first RIFF
// has none, and the RIFF and movi sizes and the frame and sample counts are set to
// what is there. An error when the file is not an AVI laid out as libavformat
// writes it (nothing is written then) or cannot be written.
base::Error finishAvi(AviFile& file, const KeyFrameRanges& keyFrames);

// The small file that stands beside a recording while it is written: its existence
// says the recording is unfinished, its lock that a program is still writing it,
// and its lines the key frames written so far ("first last").
std::string unfinishedMarkerPath(const std::string& aviPath);
KeyFrameRanges readKeyFrames(const std::string& markerPath);

// Finishes every recording in `folder` that a program left unfinished and no
// program is writing; returns their file names.
std::vector<std::string> recoverRecordings(const std::string& folder);

} // namespace tavrin::media

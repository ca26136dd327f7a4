// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::media {

// Video slots (chunk numbers of the first video stream) that hold key frames, as
// closed ranges in increasing order.
using KeyFrameRanges = std::vector<std::pair<int64_t, int64_t>>;

// Adds slot `n` to `ranges`, joining it to the last range when it follows it.
void addKeyFrame(KeyFrameRanges& ranges, int64_t n);

// One stream as the file's header describes it.
struct AviStreamFormat {
    bool video = false;
    uint32_t handler = 0;        // strh fccHandler: the codec's tag (0 for sound)
    uint32_t scale = 1;          // a chunk (video) or a sample (sound) lasts scale / rate seconds
    uint32_t rate = 0;           //
    uint32_t sampleSize = 0;     // sound: bytes a sample frame
    uint32_t bufferSize = 0;     // strh dwSuggestedBufferSize
    int width = 0;               // video: rcFrame
    int height = 0;              //
    std::vector<uint8_t> format; // strf: BITMAPINFOHEADER or WAVEFORMATEX
};

// An OpenDML AVI file, written through pread/pwrite at offsets it records when it
// writes the header (or finds when it reads back a file left unfinished): RIFF 'AVI '
// with the header and a movi list, then RIFF 'AVIX' lists of about 1 GiB each. Each
// RIFF is closed with a standard index per stream (ix##) at the end of its movi list,
// an entry in the stream's super index (indx) and, for the first RIFF, an idx1.
class AviFile {
  public:
    // Takes `fd` (not its ownership) and the size it has now. `limit` >= 0 behaves as
    // a disk with that much room. A RIFF is closed once it holds more than `riffSize`
    // (as libavformat did; smaller for tests).
    explicit AviFile(int fd, int64_t limit = -1, int64_t riffSize = int64_t{1} << 30);
    // Bytes in the file now; any thread.
    int64_t size() const { return size_.load(); }
    // Reads bytes that are in the file; false if they are not all there.
    bool read(int64_t offset, void* data, std::size_t size) const;
    // Writes all of `data`, or what the disk takes of it; false with errno set if not all.
    bool write(int64_t offset, const void* data, std::size_t size);

    // Writes the header and opens the first movi list.
    bool writeHeader(const std::vector<AviStreamFormat>& streams, uint32_t microSecPerFrame);
    // Appends a chunk of stream `stream` (padded to even) and notes it for the index;
    // a RIFF past 1 GiB is closed and the next one opened first. The file grows only
    // while the disk keeps room for its index beyond it.
    bool writeChunk(int stream, const void* data, uint32_t size, bool key);
    // The header or a chunk could not be written (error() says why): the file grows no
    // more, and closeRiff(true) finishes it with what it holds.
    bool failed() const { return error_ != 0; }
    int error() const { return error_; }
    // Brings the current RIFF's and movi list's sizes and the lengths in the header up
    // to what is in the file, so that a file cut short says how long it is.
    void updateHeaders();
    // Closes the current RIFF with its indexes; `last` for the end of the file, else
    // the next RIFF is opened.
    bool closeRiff(bool last);
    // Frames (video) or samples (sound) of that stream in the file.
    int64_t length(int stream) const { return streams_[static_cast<std::size_t>(stream)].length; }
    // Room the indexes of the chunks so far need at the close.
    int64_t indexRoom() const;
    // Reads back the header of an AVI file this program left unfinished (also one of
    // its earlier, libavformat-based versions) and walks its chunks up to the last
    // whole one; a tail cut short becomes padding. The index entries of the RIFF left
    // open are rebuilt, video key frames as `keyFrames` says. closeRiff(true) then
    // finishes it. An error (and nothing written) for a file it cannot read.
    base::Error readBack(const KeyFrameRanges& keyFrames);
    // Ends the picture and the sound of a file left unfinished together, as the writer
    // ends them at a stop: the shorter is made up to the longer, the sound with
    // silence, the picture by holding its last frame (empty chunks), so that the sound
    // ends within the last frame. A file cut short by a crash holds pictures whose
    // sound was still on its way, or sound still waiting for its picture; nothing of
    // either is lost. False with errno set if the file refuses the chunks.
    bool levelStreams();

  protected:
    // Keeps the first error (errno; EIO for none).
    void fail(int error);

    int fd_;
    int64_t limit_;
    std::atomic<int64_t> size_{0};
    int64_t allocated_ = 0; // blocks held on the disk for the file (and its index) so far

  private:
    // Holds room on the disk for the file up to `end`; false with errno set.
    bool ensureRoom(int64_t end);

    int64_t riffSize_;
    int error_ = 0;
    bool canReserve_ = true; // the filesystem keeps room ahead of a file
    struct Stream {
        bool video = false;
        uint32_t sampleSize = 0;  // sound: bytes a sample frame
        uint32_t scale = 1;       // a frame or sample lasts scale / rate seconds
        uint32_t rate = 0;        //
        int64_t lengthField = -1; // strh dwLength
        int64_t superIndex = -1;  // the indx chunk (JUNK in files not yet OpenDML)
        int64_t length = 0;       // frames or samples in the file
    };
    struct Entry {
        int64_t pos; // of the chunk's header
        uint32_t size;
        uint16_t stream;
        bool key;
    };
    bool write32(int64_t offset, uint32_t value);
    int64_t videoLength() const;
    void writeLengths();
    void readHeaderList(int64_t pos, int64_t end, bool inStreamList);
    // Makes stream `stream` up to `length` frames or samples.
    bool extendStream(std::size_t stream, int64_t length);

    std::vector<Stream> streams_;
    std::vector<Entry> entries_; // the chunks of the current RIFF
    int64_t avihFrames_ = -1;    // avih dwTotalFrames: the first RIFF's frames
    int64_t odml_ = -1;          // LIST odml (JUNK in earlier files), total frames at +20
    int64_t riff_ = 0;           // the current RIFF
    int64_t movi_ = -1;          // its LIST movi
    int64_t riffs_ = 0;          // RIFFs closed
    int64_t firstRiffFrames_ = 0;
};

// The small file that stands beside a recording while it is written: its existence
// says the recording is unfinished, its lock that a program is still writing it,
// and its lines the key frames written so far ("first last").
std::string unfinishedMarkerPath(const std::string& aviPath);
KeyFrameRanges readKeyFrames(const std::string& markerPath);

// Finishes every recording in `folder` that a program left unfinished and no
// program is writing; returns their file names.
std::vector<std::string> recoverRecordings(const std::string& folder);

} // namespace tavrin::media

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "platform/media/AviFile.h"
#include "record/MediaInterfaces.h"
#include "record/RecordingSink.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct AVPacket;

namespace tavrin::media {

class FfmpegCompressor;

// The recording sink on Linux: an OpenDML AVI file (AviFile) into which the picture's
// samples, encoded on the source's thread, go as the encoder's packets, and the
// sound's samples as they are. The header is written at the start; the counts and
// sizes in it are brought up to date with the first picture, often in the first
// seconds and then every second (a file cut short still says how long it is); the
// index and final sizes are written at the stop. A recording that ends without a
// picture leaves no file. Sound is kept level with the picture: it is never written
// past the end of the video received so far, and at the end the shorter stream is
// made up to the length of the longer one. Room for the index is kept on the disk
// beyond the file; when the disk refuses more (full, gone, or a size limit given for
// tests) the recording stops and the file is finished into that room.
// It writes every packet as it comes (the interleaving the recorder asks for) and has
// no master stream.
class AviMux : public record::RecordingSink,
               public record::IConfigInterleaving,
               public record::IConfigAviMux,
               private AviFile {
  public:
    // Creates or truncates `path`. `diskLimit` >= 0 behaves as a disk with that much room.
    static base::Result<std::unique_ptr<AviMux>> create(const std::string& path, int64_t diskLimit);
    ~AviMux() override;
    AviMux(const AviMux&) = delete;
    AviMux& operator=(const AviMux&) = delete;

    record::SampleReceiver* inputFor(const record::GUID& majorType,
                                     record::BaseFilter* intermediate) override;
    record::HRESULT start() override;
    record::HRESULT stop() override;

    // Bytes in the file (TIME_FORMAT_BYTE) or the end of the video written (media time).
    record::HRESULT SetTimeFormat(const record::GUID& format) override;
    record::HRESULT GetCurrentPosition(int64_t* position) override;
    record::HRESULT put_Mode(int32_t) override { return record::S_OK; }
    record::HRESULT SetMasterStream(int32_t) override { return record::S_OK; }

  private:
    // One stream of the file, and the input its pin delivers to.
    struct Stream : record::SampleReceiver {
        record::HRESULT ReceiveConnection(const record::MediaType& type) override;
        record::HRESULT Receive(record::MediaSample* sample) override;
        record::HRESULT EndOfStream() override;

        AviMux* mux = nullptr;
        FfmpegCompressor* encoder = nullptr; // video
        int number = 0;                      // in the file
        bool connected = false;
        AviStreamFormat format;
        bool video = false;
        record::REFERENCE_TIME interval = 0;                     // video: one frame
        int64_t blockAlign() const { return format.sampleSize; } // audio: bytes a sample frame
        int64_t written() const { return mux->length(number); }  // video: frames; audio: samples
        int64_t samples = 0;                                     // video: samples received
        int64_t slotShift = 0; // video: grid slots the file is ahead of the source
        bool ended = false;
    };

    AviMux(int fd, std::string path, int64_t diskLimit);
    // Brings the sizes and counts in the headers up to what is in the file, so that a
    // file cut short (a crash, a power cut) still says how long it is.
    void updateHeaders();
    record::HRESULT receiveAudio(Stream& s, record::MediaSample* sample);
    // Writes held-back sound up to the end of the video, and what has waited too long.
    record::HRESULT flushAudio();
    record::HRESULT checkFile();
    int64_t audioLimit(const Stream& s) const;

    // What went wrong and what to do, with the errno that says it.
    base::Error failure() const;
    // Adds the key frames not yet noted to the marker that stands beside the file while
    // it is unfinished.
    void noteKeyFrames();
    // The file is complete: its marker goes.
    void markFinished();
    // Closes the file, giving back the room kept beyond it.
    void closeFile();

    std::mutex writeMutex_;
    AVPacket* packet_ = nullptr; // the encoder's packets, each written as it is
    std::vector<std::unique_ptr<Stream>> streams_;
    std::vector<uint8_t> heldAudio_;
    KeyFrameRanges unnotedKeys_; // video slots written as key frames, not yet in the file's marker
    std::chrono::steady_clock::time_point nextHeaderUpdate_{};
    bool headerWritten_ = false;
    bool pictureWritten_ = false; // a picture, not only empty chunks
    bool finished_ = false;
    bool failureReported_ = false;
    std::atomic<record::REFERENCE_TIME> videoEnd_{0};
    bool videoEnded_ = false;
    record::GUID timeFormat_ = record::TIME_FORMAT_MEDIA_TIME;

    std::string path_;
    std::string markerPath_;
    int markerFd_ = -1; // open and locked while the recording runs
};

} // namespace tavrin::media

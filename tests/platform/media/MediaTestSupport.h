// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameQueue.h"
#include "fakes/TempDir.h"
#include "record/RecordingControl.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavrin::mediatest {

// Runs a shell command and returns its standard output; `status` gets the exit code.
std::string runCommand(const std::string& command, int* status = nullptr);

struct ProbedStream {
    std::string type; // "video" or "audio"
    std::string codec;
    int width = 0;
    int height = 0;
    int64_t frames = 0;         // decoded frames (video) or packets read
    int64_t declaredFrames = 0; // as the file's header counts them (audio: samples)
    double duration = 0;
    int sampleRate = 0;
};

// ffprobe's view of a file; `ok` false when ffprobe could not read it.
struct ProbedFile {
    bool ok = false;
    std::vector<ProbedStream> streams;
    const ProbedStream* first(const std::string& type) const;
};
ProbedFile probe(const std::string& path);

// Every video frame decoded to bottom-up-free BGR24 rows, top row first.
std::vector<std::vector<uint8_t>> decodeVideo(const std::string& path, int width, int height);
// The sound as 48 kHz mono 16-bit.
std::vector<int16_t> decodeAudioMono(const std::string& path);
// Goertzel power of `frequency` in `samples`.
double tonePower(const std::vector<int16_t>& samples, std::size_t begin, std::size_t end, double rate,
                 double frequency);

// The simulated board's picture `n`, converted for layout `layoutId` as the control
// window converts every frame.
void paintFrame(device::CaptureFrame& frame, int layoutId, uint64_t n);
// The recorded area of that image as RGB24 rows, top row first (what a decoder gives).
std::vector<uint8_t> expectedArea(int layoutId, uint64_t n, int width, int height, int offset);

// A picture of random pixels (different for each `n`): hard to compress, so that
// encoders' sizes and a disk filling up show quickly.
void paintNoise(device::CaptureFrame& frame, int layoutId, uint64_t n);

using Painter = void (*)(device::CaptureFrame& frame, int layoutId, uint64_t n);

// Plays the control window's part: takes frames from the pool at `fps`, paints
// them and offers them to the running recording, for `duration`.
std::vector<uint64_t> feedFrames(device::FramePool& pool, record::RecordingControl& recorder, int layoutId,
                                 int fps, std::chrono::milliseconds duration, uint64_t firstNumber = 0,
                                 Painter paint = paintFrame);

using tavrin::testing::TempDir;

// A sine tone played into the test sound server's sink while it lives.
class TonePlayer {
  public:
    TonePlayer(double frequency, double seconds, const std::string& folder);
    ~TonePlayer();
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

bool soundServerAvailable();

// A little-endian 32-bit number at any address.
uint32_t le32(const void* at);

// The top-level layout of an AVI file as this program writes it, read directly.
struct AviLayout {
    bool ok = false;
    int64_t fileSize = 0;
    int64_t riffEnd = 0;           // where the first RIFF's size says it ends
    uint32_t microSecPerFrame = 0; // the main header's
    int64_t moviList = 0;          // the first LIST movi
    int64_t moviEnd = 0;           // where its size says it ends
    struct Chunk {
        std::string id;
        uint32_t size;
    };
    std::vector<Chunk> chunks; // in the first movi list, up to the last whole one
    int64_t chunksEnd = 0;     // where the last of them ends
    int64_t indexEntries = -1; // entries of the idx1 after it, -1 for none
    int64_t keyEntries = 0;    // of those, video entries flagged as key frames
    int64_t videoChunks() const;
    int64_t emptyVideoChunks() const;
};
AviLayout readAviLayout(const std::string& path);

} // namespace tavrin::mediatest

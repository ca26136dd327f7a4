// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

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

// The file being finished.
class AviFileAccess {
  public:
    virtual ~AviFileAccess() = default;
    virtual int64_t size() const = 0;
    virtual bool read(int64_t offset, void* data, std::size_t size) const = 0;
    virtual bool write(int64_t offset, const void* data, std::size_t size) = 0;
};

// Finishes an AVI file of ours whose writing stopped early (a crash, a power cut, a
// full disk). What the file holds stays as it is: a chunk cut short at the end is
// turned into padding, an idx1 index of the chunks is appended when the first RIFF
// has none, and the RIFF and movi sizes and the frame and sample counts are set to
// what is there. False, with `error`, when the file is not an AVI laid out as
// libavformat writes it; nothing is written then.
bool finishAvi(AviFileAccess& file, const KeyFrameRanges& keyFrames, std::string* error);

// The small file that stands beside a recording while it is written: its existence
// says the recording is unfinished, its lock that a program is still writing it,
// and its lines the key frames written so far ("first last").
std::string unfinishedMarkerPath(const std::string& aviPath);
KeyFrameRanges readKeyFrames(const std::string& markerPath);

// Finishes every recording in `folder` that a program left unfinished and no
// program is writing; returns their file names.
std::vector<std::string> recoverRecordings(const std::string& folder);

} // namespace tavrin::media

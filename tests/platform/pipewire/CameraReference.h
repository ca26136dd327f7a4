// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/CameraPicture.h"

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavrin::testing {

// The camera's picture of the simulated board's test picture `n` in a layout, as
// the program converts and composes it with the default arrangement.
std::vector<uint8_t> cameraPictureOf(uint32_t n, int32_t layoutId);

// Every test picture of the simulated board (they repeat after 4096) as the camera
// shows it in one layout, for telling which one a received picture is. A match is
// compared byte for byte, never taken from the hash alone.
class CameraReference {
  public:
    explicit CameraReference(int32_t layoutId, uint32_t count = 4096);
    // The numbers of the pictures `bgrx` (the default canvas, no row padding) equals
    // exactly, in increasing order; some pictures repeat within the 4096.
    std::vector<uint32_t> find(std::span<const uint8_t> bgrx) const;

  private:
    int32_t layoutId_;
    std::unordered_multimap<uint64_t, uint32_t> byHash_;
};

uint64_t pictureHash(std::span<const uint8_t> bytes);

// gst-launch-1.0 reading camera `node` into numbered raw files in `folder`, one a
// picture, until stop() (SIGINT: it ends the stream first): BGRx, or `convertedTo`,
// through videoconvert. With `exactFormat` ("BGRx", "BGRA", "I420") the reader asks
// the camera for that format itself and writes what it sends unconverted.
class GstReader {
  public:
    GstReader(const std::string& node, const std::string& folder, const std::string& exactFormat = {},
              const std::string& convertedTo = "BGRx");
    ~GstReader() { stop(); }
    GstReader(const GstReader&) = delete;
    GstReader& operator=(const GstReader&) = delete;
    void stop();
    // The files written so far, in order.
    static std::vector<std::string> files(const std::string& folder);

  private:
    int pid_ = -1;
};

// A file's bytes; empty when it cannot be read.
std::vector<uint8_t> readBytes(const std::string& path);

// GStreamer's pipewiresrc is installed.
bool haveGstPipewire();
// A daemon is at PIPEWIRE_RUNTIME_DIR (scripts/test-env.sh starts one).
bool havePipewireDaemon();
// The properties of node `name` as pw-dump shows them; empty when there is no such node.
std::string nodeProps(const std::string& name);

} // namespace tavrin::testing

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "display/CameraOutput.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tavrin::pipewire {

// The camera as a PipeWire video source: a node "tavrin-capture" (Video/Source,
// role Camera) that OBS, browsers through the camera portal and pipewiresrc take
// pictures from. Everything PipeWire does runs on a thread loop of its own; the
// GUI thread only hands a frame over and wakes that loop. Without a daemon the
// camera tries again every `retryInterval`, and it publishes again when a daemon
// that went away comes back.
class PipeWireCamera final : public display::CameraOutput {
  public:
    struct Options {
        std::string nodeName = "tavrin-capture";
        std::string description = "Tavrin Capture";
        std::chrono::milliseconds retryInterval{3000};
    };

    // What happened to the frames handed over, for the console and the tests.
    struct Counters {
        uint64_t sent = 0;            // reached a consumer's buffer
        uint64_t droppedBusy = 0;     // the previous frame was still waiting to be sent
        uint64_t droppedNoBuffer = 0; // every buffer was with the consumer
        uint64_t connects = 0;        // times the node was published
    };

    PipeWireCamera();
    explicit PipeWireCamera(Options options);
    ~PipeWireCamera() override;
    PipeWireCamera(const PipeWireCamera&) = delete;
    PipeWireCamera& operator=(const PipeWireCamera&) = delete;

    bool wantsFrames() const override;
    void present(device::FrameRef frame, const base::PictureOptions& picture) override;
    void setEnabled(bool on, const base::PictureOptions& picture) override;

    Counters counters() const;
    // The node exists on a daemon (a consumer may or may not be connected).
    bool published() const;

  private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};

} // namespace tavrin::pipewire

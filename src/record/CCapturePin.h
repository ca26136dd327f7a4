// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameQueue.h"
#include "record/CapturePinCategory.h"
#include "record/MediaInterfaces.h"
#include "record/SourceStream.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace tavrin::record {

class TavrinFilter;

// The recording source's one output pin: RGB24 samples of the recorded area,
// placed on a time grid whose step is the recording frame interval.
class CCapturePin : public CSourceStream, public CapturePinCategory, public IAMStreamConfig {
  public:
    static constexpr REFERENCE_TIME kMinFrameInterval = 166666; // 60 frames a second
    static constexpr REFERENCE_TIME kMaxFrameInterval = 666666; // 15 frames a second
    static constexpr std::chrono::milliseconds kStarvedWait{750};

    explicit CCapturePin(TavrinFilter* filter);
    ~CCapturePin() override;

    // Grid placement (control window thread); see TavrinFilter::putFrame.
    HRESULT putFrame(const device::FrameRef& frame);
    // Waits for the next queued frame; empty for the end marker, or when a stop was
    // asked for and nothing came for 750 ms.
    device::FrameRef getNextFrame();
    HRESULT setArea(int32_t width, int32_t height, int32_t offset);
    HRESULT stop();
    HRESULT getStatistic(int32_t kind, int64_t* result);

    // Pin side.
    HRESULT CheckMediaType(const MediaType* type) override;
    HRESULT SetMediaType(const MediaType* type) override;
    HRESULT GetMediaType(int32_t position, MediaType* type) override;
    HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
    // Quality messages from downstream are not acted on.
    HRESULT Notify();

    // IAMStreamConfig
    HRESULT SetFormat(const MediaType* type) override;
    HRESULT GetFormat(std::unique_ptr<MediaType>* type) override;
    HRESULT GetNumberOfCapabilities(int32_t* count, int32_t* size) override;
    HRESULT GetStreamCaps(int32_t index, std::unique_ptr<MediaType>* type,
                          VIDEO_STREAM_CONFIG_CAPS* caps) override;

    REFERENCE_TIME frameInterval() const { return frameInterval_.load(); }
    int64_t lastIndex() const { return lastIndex_.load(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t offset() const { return offset_; }
    int queuedCount() const { return queue_.count(); }

    // Streaming thread side, public so that tests can drive them directly.
    HRESULT FillBuffer(MediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    // After stop() the end marker is queued behind the frames still to be recorded.
    bool endsByItself() const override { return stopRequested_.load(); }

  private:
    // The offered type for the current area and interval.
    HRESULT fillMediaType(MediaType* type) const;

    TavrinFilter* owner_;
    std::mutex fillLock_;
    std::atomic<REFERENCE_TIME> frameInterval_{kMinFrameInterval};
    std::atomic<int64_t> lastIndex_{0};
    std::atomic<int32_t> samplesDelivered_{0};
    std::atomic<int32_t> framesSkipped_{0};
    std::atomic<REFERENCE_TIME> lastSampleTime_{0};
    device::FrameQueue queue_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t offset_ = 0;
    std::atomic<bool> stopRequested_{false};
};

} // namespace tavrin::record

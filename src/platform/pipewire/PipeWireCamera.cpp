// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/pipewire/PipeWireCamera.h"

#include "base/Diagnostics.h"
#include "device/CaptureFrame.h"
#include "display/CameraFormat.h"
#include "display/CameraPicture.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <vector>

namespace tavrin::pipewire {

namespace {

constexpr uint32_t kBuffersWanted = 8;
// After the daemon went away it usually comes back within a second.
constexpr std::chrono::milliseconds kFirstReconnect{1000};

int64_t monotonicNanoseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec toTimespec(std::chrono::milliseconds ms) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms.count() / 1000);
    ts.tv_nsec = static_cast<long>((ms.count() % 1000) * 1000000);
    return ts;
}

spa_video_format spaFormat(display::CameraFormat f) {
    switch (f) {
    case display::CameraFormat::Bgra:
        return SPA_VIDEO_FORMAT_BGRA;
    case display::CameraFormat::I420:
        return SPA_VIDEO_FORMAT_I420;
    case display::CameraFormat::Bgrx:
        break;
    }
    return SPA_VIDEO_FORMAT_BGRx;
}

} // namespace

// Everything below runs on the thread loop, except where a comment says otherwise.
struct PipeWireCamera::Loop {
    explicit Loop(Options o) : options(std::move(o)) {
        pw_init(nullptr, nullptr);
        threadLoop = pw_thread_loop_new("tavrin-camera", nullptr);
        loop = pw_thread_loop_get_loop(threadLoop);
        context = pw_context_new(loop, nullptr, 0);
        wake = pw_loop_add_event(loop, &Loop::onWake, this);
        retry = pw_loop_add_timer(loop, &Loop::onRetry, this);
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.error = &Loop::onCoreError;
        streamEvents.version = PW_VERSION_STREAM_EVENTS;
        streamEvents.state_changed = &Loop::onStateChanged;
        streamEvents.param_changed = &Loop::onParamChanged;
        pw_thread_loop_start(threadLoop);
    }

    ~Loop() {
        pw_thread_loop_lock(threadLoop);
        disconnect();
        pw_thread_loop_unlock(threadLoop);
        pw_thread_loop_stop(threadLoop);
        pw_loop_destroy_source(loop, wake);
        pw_loop_destroy_source(loop, retry);
        if (context)
            pw_context_destroy(context);
        pw_thread_loop_destroy(threadLoop);
        // pw_deinit is left out: other cameras (tests make several) may still use the library.
    }

    // --- any thread ---
    void signal() { pw_loop_signal_event(loop, wake); }

    // --- the thread loop ---
    static void onWake(void* data, uint64_t) {
        auto* self = static_cast<Loop*>(data);
        self->yieldToTheGuiThread();
        self->reconcile();
    }
    static void onRetry(void* data, uint64_t) {
        auto* self = static_cast<Loop*>(data);
        self->yieldToTheGuiThread();
        if (self->lost)
            self->disconnect();
        self->reconcile();
    }

    // Woken by the GUI thread's hand-over, this thread would otherwise often take
    // the GUI thread's processor at once and run its copy before the GUI thread
    // goes on. As a batch thread it is not favoured on wake-up: it runs on the
    // other processor, or right after the GUI thread's turn.
    void yieldToTheGuiThread() {
        if (batchScheduling)
            return;
        batchScheduling = true;
        sched_param param{};
        if (pthread_setschedparam(pthread_self(), SCHED_BATCH, &param) != 0)
            base::cameraLog.debug("camera: batch scheduling refused\n");
    }

    // Brings the connection to what the user's switch asks for, then sends what waits.
    void reconcile() {
        const bool wanted = enabled.load();
        if (wanted && !core)
            connect();
        else if (!wanted && core) {
            disconnect();
            base::cameraLog.info("camera withdrawn (Share as camera is off)\n");
        }
        if (stream && streaming.load())
            sendPending();
    }

    void connect() {
        if (!context) {
            context = pw_context_new(loop, nullptr, 0);
            if (!context)
                return retryIn(options.retryInterval);
        }
        core = pw_context_connect(context, nullptr, 0);
        if (!core) {
            const int err = errno;
            if (!unavailableSaid) {
                base::cameraLog.warning(
                    "camera unavailable: no PipeWire daemon (%s); trying again every %g s\n",
                    std::strerror(err), static_cast<double>(options.retryInterval.count()) / 1000);
                unavailableSaid = true;
            }
            return retryIn(options.retryInterval);
        }
        pw_core_add_listener(core, &coreListener, &coreEvents, this);

        pw_properties* props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CLASS, "Video/Source",
                              PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_NODE_NAME, options.nodeName.c_str(),
                              PW_KEY_NODE_DESCRIPTION, options.description.c_str(), nullptr);
        stream = pw_stream_new(core, options.nodeName.c_str(), props);
        if (!stream) {
            base::cameraLog.error("camera: cannot make the stream: %s\n", std::strerror(errno));
            lost = true;
            return retryIn(options.retryInterval);
        }
        pw_stream_add_listener(stream, &streamListener, &streamEvents, this);

        // One format object per size offered; the camera has one size while it is
        // published (see CameraPicture.h), that of the arrangement now in force.
        {
            std::lock_guard lk(pendingLock);
            canvas = display::cameraCanvas(picture);
        }
        // BGRx first: a reader that takes the first format it can gets the exact
        // pixels; browsers take BGRA or I420.
        uint8_t buffer[2048];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        spa_rectangle size{static_cast<uint32_t>(canvas.width), static_cast<uint32_t>(canvas.height)};
        spa_fraction rate{static_cast<uint32_t>(display::kCameraFramesPerSecond), 1};
        const spa_pod* params[std::size(display::kCameraFormats)];
        for (std::size_t i = 0; i < std::size(display::kCameraFormats); ++i)
            params[i] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
                SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                SPA_FORMAT_VIDEO_format, SPA_POD_Id(spaFormat(display::kCameraFormats[i])),
                SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
                SPA_POD_Fraction(&rate)));
        // The composed picture before it becomes I420: made here, not per frame.
        composed.assign(canvas.bytes(), 0);
        const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
        if (pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params,
                              static_cast<uint32_t>(std::size(params))) < 0) {
            base::cameraLog.error("camera: cannot connect the stream: %s\n", std::strerror(errno));
            lost = true;
            return retryIn(options.retryInterval);
        }
        unavailableSaid = false;
        published.store(true);
        connects.fetch_add(1);
        base::cameraLog.info("camera published as %s (%d x %d BGRx, BGRA or I420, %d frames a second)\n",
                             options.nodeName.c_str(), canvas.width, canvas.height,
                             display::kCameraFramesPerSecond);
    }

    void disconnect() {
        tearingDown = true;
        streaming.store(false);
        published.store(false);
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);
            stream = nullptr;
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
            core = nullptr;
        }
        lost = false;
        tearingDown = false;
        takePending(); // lets go of a frame that will not be sent
    }

    void retryIn(std::chrono::milliseconds delay) {
        timespec value = toTimespec(delay);
        pw_loop_update_timer(loop, retry, &value, nullptr, false);
    }

    // The daemon is gone (or refused us): start again from nothing a little later.
    void connectionLost(const char* why) {
        if (lost || tearingDown)
            return;
        lost = true;
        streaming.store(false);
        published.store(false);
        base::cameraLog.warning("camera: %s; publishing again when the PipeWire daemon is back\n", why);
        retryIn(kFirstReconnect);
    }

    static void onCoreError(void* data, uint32_t id, int, int res, const char* message) {
        auto* self = static_cast<Loop*>(data);
        if (id == PW_ID_CORE && res == -EPIPE)
            self->connectionLost("the PipeWire daemon went away");
        else
            base::cameraLog.warning("camera: PipeWire error on %u: %s\n", id, message ? message : "");
    }

    static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto* self = static_cast<Loop*>(data);
        if (self->tearingDown)
            return;
        const bool nowStreaming = state == PW_STREAM_STATE_STREAMING;
        if (nowStreaming != self->streaming.load()) {
            self->streaming.store(nowStreaming);
            if (nowStreaming)
                base::cameraLog.info("camera: a program reads the picture\n");
            else
                base::cameraLog.info("camera: no program reads the picture\n");
        }
        if (state == PW_STREAM_STATE_ERROR)
            self->connectionLost(error ? error : "stream error");
        else if (state == PW_STREAM_STATE_UNCONNECTED && self->enabled.load())
            self->connectionLost("the stream was disconnected");
    }

    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* self = static_cast<Loop*>(data);
        if (id != SPA_PARAM_Format || !param)
            return; // no format: the consumer left
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0)
            return;
        display::CameraFormat chosen = display::CameraFormat::Bgrx;
        bool known = false;
        for (display::CameraFormat f : display::kCameraFormats)
            if (spaFormat(f) == info.format) {
                chosen = f;
                known = true;
            }
        if (!known) {
            pw_stream_set_error(self->stream, -EINVAL, "unknown video format");
            return;
        }
        self->format = chosen;
        const display::CameraBufferLayout layout = display::cameraBufferLayout(chosen, self->canvas);
        base::cameraLog.info("camera: a reader takes %s\n", display::cameraFormatName(chosen));
        uint8_t buffer[1024];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(static_cast<int>(kBuffersWanted), 2, 16), SPA_PARAM_BUFFERS_blocks,
            SPA_POD_Int(1), SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int>(layout.bytes)),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int>(layout.stride))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
        pw_stream_update_params(self->stream, params, 2);
    }

    struct Pending {
        device::FrameRef frame;
        base::PictureOptions picture;
        int64_t handedAt = 0;
    };

    Pending takePending() {
        std::lock_guard lk(pendingLock);
        return std::exchange(pending, {});
    }

    void sendPending() {
        Pending p = takePending();
        if (!p.frame)
            return;
        pw_buffer* b = pw_stream_dequeue_buffer(stream);
        if (!b) {
            droppedNoBuffer.fetch_add(1);
            return;
        }
        spa_buffer* buf = b->buffer;
        spa_data& d = buf->datas[0];
        const display::CameraBufferLayout layout = display::cameraBufferLayout(format, canvas);
        if (!d.data || d.maxsize < layout.bytes) {
            pw_stream_queue_buffer(stream, b); // an empty buffer tells the consumer nothing new
            droppedNoBuffer.fetch_add(1);
            return;
        }
        auto* out = static_cast<uint8_t*>(d.data);
        // Converted here, on this thread, and only for a reader that reads.
        if (format == display::CameraFormat::I420) {
            display::composeCameraPicture(*p.frame, p.picture, canvas, composed.data(), canvas.stride());
            p.frame.reset(); // copied: back to the pool at once
            display::bgrxToI420(composed.data(), canvas.stride(), canvas, out);
        } else {
            display::composeCameraPicture(*p.frame, p.picture, canvas, out, canvas.stride());
            p.frame.reset();
            if (format == display::CameraFormat::Bgra)
                display::makeOpaque(out, canvas.stride(), canvas);
        }
        d.chunk->offset = 0;
        d.chunk->stride = static_cast<int32_t>(layout.stride);
        d.chunk->size = static_cast<uint32_t>(layout.bytes);
        if (auto* h = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)))) {
            // The moment the frame was handed over, on PipeWire's own clock.
            h->pts = p.handedAt;
            h->flags = 0;
            h->seq = sequence++;
            h->dts_offset = 0;
        }
        pw_stream_queue_buffer(stream, b);
        pw_stream_trigger_process(stream);
        sent.fetch_add(1);
    }

    Options options;
    pw_thread_loop* threadLoop = nullptr;
    pw_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_source* wake = nullptr;
    spa_source* retry = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};
    bool lost = false;
    bool tearingDown = false;
    bool unavailableSaid = false;
    bool batchScheduling = false;
    uint64_t sequence = 0;
    display::CameraCanvas canvas;
    display::CameraFormat format = display::CameraFormat::Bgrx; // the connected readers'
    std::vector<uint8_t> composed;

    // Shared with the GUI thread.
    std::atomic<bool> enabled{false};
    std::atomic<bool> streaming{false};
    std::atomic<bool> published{false};
    std::mutex pendingLock; // the GUI thread only tries it for a frame
    Pending pending;
    base::PictureOptions picture; // the newest arrangement, for the next publishing
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> droppedBusy{0};
    std::atomic<uint64_t> droppedNoBuffer{0};
    std::atomic<uint64_t> connects{0};
};

PipeWireCamera::PipeWireCamera() : PipeWireCamera(Options{}) {}

PipeWireCamera::PipeWireCamera(Options options) : loop_(std::make_unique<Loop>(std::move(options))) {}

PipeWireCamera::~PipeWireCamera() = default;

bool PipeWireCamera::wantsFrames() const {
    return loop_->streaming.load(std::memory_order_relaxed) && loop_->enabled.load(std::memory_order_relaxed);
}

void PipeWireCamera::present(device::FrameRef frame, const base::PictureOptions& picture) {
    if (!frame || !wantsFrames())
        return;
    Loop::Pending replaced;
    {
        std::unique_lock lk(loop_->pendingLock, std::try_to_lock);
        if (!lk.owns_lock()) {
            // The loop is taking the previous frame this very moment: never wait for it.
            loop_->droppedBusy.fetch_add(1);
            return;
        }
        replaced = std::exchange(loop_->pending, {std::move(frame), picture, monotonicNanoseconds()});
        loop_->picture = picture;
    }
    if (replaced.frame)
        loop_->droppedBusy.fetch_add(1); // released here, outside the lock
    loop_->signal();
}

void PipeWireCamera::setEnabled(bool on, const base::PictureOptions& picture) {
    {
        std::lock_guard lk(loop_->pendingLock); // the loop holds it only for moments
        loop_->picture = picture;
    }
    loop_->enabled.store(on);
    loop_->signal();
}

PipeWireCamera::Counters PipeWireCamera::counters() const {
    return {loop_->sent.load(), loop_->droppedBusy.load(), loop_->droppedNoBuffer.load(),
            loop_->connects.load()};
}

bool PipeWireCamera::published() const {
    return loop_->published.load();
}

} // namespace tavrin::pipewire

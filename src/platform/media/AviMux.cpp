// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviMux.h"

#include "base/Diagnostics.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/PcmFilter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tavrin::media {

using namespace record;

namespace {

// Two seconds of sound may wait for the picture; past that the picture has
// stalled and the sound goes out anyway.
constexpr REFERENCE_TIME kMaxHeldAudio = 2 * UNITS;

// How often the headers are brought up to date while recording.
constexpr auto kHeaderUpdateInterval = std::chrono::seconds(1);
constexpr uint32_t kUnsetSize = 0xFFFFFFFF; // libavformat's size of a chunk still open

} // namespace

AviMux::AviMux(std::unique_ptr<AviFileSink> sink) : sink_(std::move(sink)) {
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (avi && avformat_alloc_output_context2(&format_, avi, nullptr, nullptr) >= 0 && format_) {
        format_->pb = sink_->io();
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    packet_ = av_packet_alloc();
}

AviMux::~AviMux() {
    stop();
    av_packet_free(&packet_);
    if (format_)
        avformat_free_context(format_);
    if (sink_ && !headerWritten_)
        sink_->remove();
}

SampleReceiver* AviMux::inputFor(const GUID& majorType, BaseFilter* intermediate) {
    auto s = std::make_unique<Stream>();
    s->mux = this;
    s->video = majorType == MEDIATYPE_Video;
    s->encoder = s->video ? dynamic_cast<FfmpegCompressor*>(intermediate) : nullptr;
    // The picture only through an encoder of ours, the sound as it is or through "PCM".
    if (!format_ || headerWritten_ ||
        (s->video ? !s->encoder : intermediate && !dynamic_cast<PcmFilter*>(intermediate)))
        return nullptr;
    streams_.push_back(std::move(s));
    return streams_.back().get();
}

HRESULT AviMux::Stream::ReceiveConnection(const MediaType& type) {
    if (st || (video != (type.majortype == MEDIATYPE_Video)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par)
        return E_OUTOFMEMORY;
    base::Error error = video                                ? encoder->open(type, par)
                        : codecParametersFromType(type, par) ? base::Error{}
                                                             : base::Error{VFW_E_TYPE_NOT_ACCEPTED, {}};
    if (!error) {
        st = avformat_new_stream(mux->format_, nullptr);
        if (!st || avcodec_parameters_copy(st->codecpar, par) < 0)
            error = {E_OUTOFMEMORY, "Out of memory."};
    }
    avcodec_parameters_free(&par);
    if (error && !error.text.empty()) // the encoder would not start: say why
        mux->notify(EC_ERRORABORT, error);
    if (error)
        return error.code;
    if (video) {
        interval = type.formatAs<VIDEOINFOHEADER>()->AvgTimePerFrame;
        st->time_base = frameDuration(interval);
        st->avg_frame_rate = AVRational{st->time_base.den, st->time_base.num};
    } else {
        rate = st->codecpar->sample_rate;
        blockAlign = st->codecpar->block_align;
        st->time_base = AVRational{1, rate};
    }
    return S_OK;
}

HRESULT AviMux::start() {
    std::lock_guard lk(writeMutex_);
    if (headerWritten_)
        return S_OK;
    if (!format_ || !packet_ || finished_)
        return E_UNEXPECTED;
    for (auto& s : streams_)
        if (!s->st)
            return VFW_E_NOT_CONNECTED;
    if (streams_.empty())
        return VFW_E_NOT_CONNECTED;
    const int err = avformat_write_header(format_, nullptr);
    if (err < 0 || sink_->failed()) {
        const base::Error error =
            sink_->failed() ? sink_->failure() : base::Error{E_FAIL, "The AVI header could not be written."};
        notify(EC_ERRORABORT, error);
        return error.code;
    }
    headerWritten_ = true;
    if (!findHeaderFields())
        base::recordLog.warning(
            "AVI writer: header fields not found; the file is completed only at the end\n");
    nextHeaderUpdate_ = std::chrono::steady_clock::now() + kHeaderUpdateInterval;
    return S_OK;
}

bool AviMux::findHeaderFields() {
    avio_flush(format_->pb);
    auto layout = readAviLayout(*sink_);
    fields_ = HeaderFields{};
    fields_.ok = layout && layout->streams.size() == streams_.size();
    if (fields_.ok) {
        fields_.layout = *layout;
        fields_.moviList = layout->movi;
    }
    fields_.lastRiffSize = kUnsetSize;
    return fields_.ok;
}

void AviMux::updateHeaders() {
    // The key frames go into the marker, for a file that has to be finished after a crash.
    sink_->noteKeyFrames(unnotedKeys_);
    unnotedKeys_.clear();
    if (!fields_.ok || sink_->failed())
        return;
    avio_flush(format_->pb);
    if (sink_->failed())
        return;
    // A RIFF that libavformat closed itself (past 1 GiB) is followed by the next one.
    uint8_t b[24];
    while (sink_->read(fields_.riffStart + 4, b, 4) && le32(b) != fields_.lastRiffSize &&
           le32(b) != kUnsetSize) {
        const int64_t next = fields_.riffStart + 8 + padded(le32(b));
        if (!sink_->read(next, b, 24) || !isTag(b, "RIFF") || !isTag(b + 8, "AVIX") ||
            !isTag(b + 12, "LIST") || !isTag(b + 20, "movi")) {
            fields_.ok = false; // not what libavformat writes: leave the file to it
            return;
        }
        fields_.riffStart = next;
        fields_.moviList = next + 12;
        fields_.lastRiffSize = kUnsetSize;
    }
    const int64_t end = sink_->size();
    if (end < fields_.moviList + 12)
        return;
    fields_.lastRiffSize = static_cast<uint32_t>(end - fields_.riffStart - 8);
    write32(*sink_, fields_.riffStart + 4, fields_.lastRiffSize);
    write32(*sink_, fields_.moviList + 4, static_cast<uint32_t>(end - fields_.moviList - 8));
    std::vector<int64_t> lengths;
    for (const auto& s : streams_)
        lengths.push_back(s->written);
    writeCounts(*sink_, fields_.layout, lengths, fields_.riffStart > 0); // past the first RIFF: OpenDML
    sink_->startWriteback();
}

HRESULT AviMux::checkSink() {
    if (!sink_->failed())
        return S_OK;
    const base::Error failure = sink_->failure();
    if (!failureReported_) {
        failureReported_ = true;
        base::recordLog.error("AVI writer: %s\n", failure.text.c_str());
        notify(EC_ERRORABORT, failure);
    }
    return failure.code;
}

HRESULT AviMux::afterWrite(int err) {
    HRESULT hr = checkSink();
    if (FAILED(hr))
        return hr;
    // Room for an idx1 entry per chunk and a little more, kept beyond the file.
    sink_->setIndexReserve(16 * ++packets_ + 16384);
    if (err < 0) {
        notify(EC_ERRORABORT, {E_FAIL, "The AVI writer failed (" + avErrorText(err) + ")."});
        return E_FAIL;
    }
    return S_OK;
}

int64_t AviMux::audioLimit(const Stream& s) const {
    return av_rescale(videoEnd_.load(), s.rate, UNITS);
}

HRESULT AviMux::writeAudio(Stream& s, const uint8_t* data, int64_t bytes) {
    if (bytes <= 0)
        return S_OK;
    AVPacket* packet = packet_; // free: the picture's packets are let go as they are written
    packet->data = const_cast<uint8_t*>(data);
    packet->size = static_cast<int>(bytes);
    packet->stream_index = s.st->index;
    const int64_t samples = bytes / s.blockAlign;
    packet->pts = packet->dts = av_rescale_q(s.written, AVRational{1, s.rate}, s.st->time_base);
    packet->duration = av_rescale_q(samples, AVRational{1, s.rate}, s.st->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    const HRESULT hr = afterWrite(av_write_frame(format_, packet));
    av_packet_unref(packet);
    if (SUCCEEDED(hr))
        s.written += samples;
    return hr;
}

HRESULT AviMux::flushAudio(bool force) {
    for (auto& stream : streams_) {
        Stream& s = *stream;
        if (s.video || heldAudio_.empty())
            continue;
        int64_t allowed = static_cast<int64_t>(heldAudio_.size());
        if (!force) {
            const int64_t room = (audioLimit(s) - s.written) * s.blockAlign;
            const int64_t overflow = static_cast<int64_t>(heldAudio_.size()) -
                                     av_rescale(kMaxHeldAudio, s.rate, UNITS) * s.blockAlign;
            allowed = std::clamp<int64_t>(std::max(room, overflow), 0, allowed);
        }
        HRESULT hr = writeAudio(s, heldAudio_.data(), allowed);
        if (FAILED(hr))
            return hr;
        heldAudio_.erase(heldAudio_.begin(), heldAudio_.begin() + allowed);
    }
    return S_OK;
}

HRESULT AviMux::Stream::Receive(MediaSample* sample) {
    if (!video)
        return mux->receiveAudio(*this, sample);
    if (ended)
        return S_FALSE;
    HRESULT hr = encoder->encode(sample); // a null sample flushes the encoder
    if (FAILED(hr))
        mux->notify(EC_ERRORABORT, {hr, "The video encoder failed."});
    if (hr != S_OK)
        return hr;
    std::lock_guard lk(mux->writeMutex_);
    if (!mux->headerWritten_ || mux->finished_)
        return VFW_E_WRONG_STATE;
    if (mux->sink_->failed())
        return mux->checkSink();
    AVPacket* packet = mux->packet_;
    int err;
    while ((err = avcodec_receive_packet(encoder->encoder(), packet)) == 0) {
        // The encoder counts in frames. The source stamps its first sample 0 although
        // that frame's slot on the grid is 1 or later; taken as they come, that slot
        // would stay an empty chunk nobody counted. So when the second sample shows the
        // grid one slot on, every later one moves back by that slot and only the gaps
        // the source counted remain.
        int64_t index = packet->pts;
        if (samples == 1 && index >= 2)
            slotShift = 1;
        if (samples > 0)
            index -= slotShift;
        ++samples;
        if (index < written) { // never backwards in an AVI
            av_packet_unref(packet);
            continue;
        }
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        packet->stream_index = st->index;
        packet->pts = packet->dts = av_rescale_q(index, frameDuration(interval), st->time_base);
        packet->duration = av_rescale_q(1, frameDuration(interval), st->time_base);
        // The encoder's packet itself goes into the file.
        hr = mux->afterWrite(av_write_frame(mux->format_, packet));
        av_packet_unref(packet);
        if (FAILED(hr))
            return hr;
        if (key) {
            addKeyFrame(mux->keyFrames_, index);
            addKeyFrame(mux->unnotedKeys_, index);
        }
        written = index + 1;
        mux->videoEnd_.store(written * interval);
        hr = mux->flushAudio(false);
        if (FAILED(hr))
            return hr;
        if (std::chrono::steady_clock::now() >= mux->nextHeaderUpdate_) {
            mux->nextHeaderUpdate_ = std::chrono::steady_clock::now() + kHeaderUpdateInterval;
            mux->updateHeaders();
        }
    }
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
        return S_OK;
    mux->notify(EC_ERRORABORT, {E_FAIL, "The video encoder failed (" + avErrorText(err) + ")."});
    return E_FAIL;
}

HRESULT AviMux::Stream::EndOfStream() {
    if (video)
        Receive(nullptr);
    std::lock_guard lk(mux->writeMutex_);
    ended = true;
    if (video)
        mux->videoEnded_ = true;
    return S_OK;
}

HRESULT AviMux::receiveAudio(Stream& s, MediaSample* sample) {
    std::lock_guard lk(writeMutex_);
    if (!headerWritten_ || finished_)
        return VFW_E_WRONG_STATE;
    if (sink_->failed())
        return checkSink();
    uint8_t* data = nullptr;
    sample->GetPointer(&data);
    const int32_t length = sample->GetActualDataLength();
    int64_t keep = length - length % s.blockAlign;
    if (videoEnded_) {
        // The picture has ended: the sound still on its way up to the picture's end is
        // kept (the input hands it over a little late), none past it.
        const int64_t room =
            (audioLimit(s) - s.written) * s.blockAlign - static_cast<int64_t>(heldAudio_.size());
        keep = std::clamp<int64_t>(room, 0, keep);
    }
    if (keep <= 0)
        return S_OK;
    heldAudio_.insert(heldAudio_.end(), data, data + keep);
    return flushAudio(false);
}

HRESULT AviMux::stop() {
    if (!headerWritten_ || finished_) // the sources have stopped: nothing else writes
        return S_OK;
    // A picture stopped without its end: what the encoder still holds goes out now.
    for (auto& s : streams_)
        if (s->video && !s->ended)
            s->EndOfStream();
    std::lock_guard lk(writeMutex_);
    finished_ = true;
    if (!sink_->failed()) {
        Stream* video = nullptr;
        for (auto& s : streams_)
            if (s->video)
                video = s.get();
        // Sound up to the end of the picture; what is missing becomes silence.
        flushAudio(false);
        heldAudio_.clear();
        for (auto& stream : streams_) {
            Stream& s = *stream;
            if (s.video || !video)
                continue;
            const int64_t missing = audioLimit(s) - s.written;
            if (missing > 0) {
                std::vector<uint8_t> silence(static_cast<std::size_t>(missing * s.blockAlign), 0);
                writeAudio(s, silence.data(), static_cast<int64_t>(silence.size()));
            }
            // Sound that went out ahead of a stalled picture: the picture's last frame is held.
            const int64_t frames = av_rescale(s.written, UNITS, s.rate) / video->interval;
            if (frames > video->written && !sink_->failed()) {
                packet_->stream_index = video->st->index;
                packet_->pts = packet_->dts =
                    av_rescale_q(frames - 1, frameDuration(video->interval), video->st->time_base);
                afterWrite(av_write_frame(format_, packet_));
                av_packet_unref(packet_);
                video->written = frames;
            }
        }
    }
    // Even after a write failure: the trailer patches the headers of what is in the file.
    av_write_trailer(format_);
    avio_flush(format_->pb);
    if (sink_->failed()) {
        // libavformat counted what the disk refused, and its index did not fit: the
        // headers are set to what is on the disk and the index goes into the room kept.
        if (const base::Error error = finishAvi(*sink_, keyFrames_))
            base::recordLog.warning("AVI writer: the file could not be finished (%s)\n", error.text.c_str());
    }
    const HRESULT hr = checkSink();
    sink_->markFinished();
    sink_->close();
    return hr;
}

HRESULT AviMux::SetTimeFormat(const GUID& format) {
    if (!(format == TIME_FORMAT_BYTE) && !(format == TIME_FORMAT_MEDIA_TIME))
        return E_INVALIDARG;
    timeFormat_ = format;
    return S_OK;
}

HRESULT AviMux::GetCurrentPosition(int64_t* position) {
    if (!position)
        return E_POINTER;
    *position = timeFormat_ == TIME_FORMAT_BYTE ? (sink_ ? sink_->size() : 0) : videoEnd_.load();
    return S_OK;
}

} // namespace tavrin::media

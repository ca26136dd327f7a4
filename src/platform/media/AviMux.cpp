// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviMux.h"

#include "base/Diagnostics.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/PcmFilter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavrin::media {

using namespace record;

namespace {

// Two seconds of sound may wait for the picture; past that the picture has
// stalled and the sound goes out anyway.
constexpr REFERENCE_TIME kMaxHeldAudio = 2 * UNITS;

// How often the headers are brought up to date while recording.
constexpr auto kHeaderUpdateInterval = std::chrono::seconds(1);
constexpr uint32_t kUnsetSize = 0xFFFFFFFF; // libavformat's size of a chunk still open
constexpr int kBufferSize = 64 * 1024;

// Fills a stream's parameters from a sound type (16-bit PCM). False when the type names
// no codec we can write.
bool soundParameters(const MediaType& type, AVCodecParameters* par) {
    auto wfx = type.formatAs<WAVEFORMATEX>();
    if (!(type.majortype == MEDIATYPE_Audio) || !wfx || wfx->wFormatTag != WAVE_FORMAT_PCM ||
        wfx->wBitsPerSample != 16 || wfx->nChannels == 0)
        return false;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->codec_tag = 0;
    par->sample_rate = static_cast<int>(wfx->nSamplesPerSec);
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, wfx->nChannels);
    par->bits_per_coded_sample = 16;
    par->block_align = wfx->nBlockAlign;
    par->bit_rate = static_cast<int64_t>(wfx->nAvgBytesPerSec) * 8;
    return true;
}

} // namespace

base::Result<std::unique_ptr<AviMux>> AviMux::create(const std::string& path, int64_t diskLimit) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return base::Error{errno, "Cannot create " + path + " (" + std::strerror(errno) +
                                      "): choose another output folder."};
    std::unique_ptr<AviMux> mux(new AviMux(fd, path, diskLimit));
    if (!mux->io_)
        return base::Error{ENOMEM, "Out of memory."}; // the file goes with the multiplexer
    return mux;
}

AviMux::AviMux(int fd, std::string path, int64_t diskLimit) : AviFile(fd, diskLimit), path_(std::move(path)) {
    // The marker says "unfinished" until the file is complete; its lock says that this
    // program is writing it, and goes with the program however it ends.
    markerPath_ = unfinishedMarkerPath(path_);
    markerFd_ = ::open(markerPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (markerFd_ >= 0)
        ::flock(markerFd_, LOCK_EX | LOCK_NB);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer)
        io_ = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &AviMux::writePacket, &AviMux::seek);
    if (!io_) {
        av_free(buffer);
        return;
    }
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (avi && avformat_alloc_output_context2(&format_, avi, nullptr, nullptr) >= 0 && format_) {
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    packet_ = av_packet_alloc();
}

AviMux::~AviMux() {
    stop();
    av_packet_free(&packet_);
    if (format_)
        avformat_free_context(format_);
    closeFile();
    if (!headerWritten_) { // a recording that never got its header leaves nothing behind
        ::unlink(path_.c_str());
        markFinished();
    }
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
    base::Error error = video                        ? encoder->open(type, par)
                        : soundParameters(type, par) ? base::Error{}
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
    if (err < 0 || failed()) {
        const base::Error error =
            failed() ? failure() : base::Error{E_FAIL, "The AVI header could not be written."};
        notify(EC_ERRORABORT, error);
        return error.code;
    }
    headerWritten_ = true;
    avio_flush(io_);
    auto layout = readAviLayout(*this);
    fields_.ok = layout && layout->streams.size() == streams_.size();
    if (fields_.ok) {
        fields_.layout = *layout;
        fields_.moviList = layout->movi;
    } else {
        base::recordLog.warning(
            "AVI writer: header fields not found; the file is completed only at the end\n");
    }
    nextHeaderUpdate_ = std::chrono::steady_clock::now() + kHeaderUpdateInterval;
    return S_OK;
}

void AviMux::updateHeaders() {
    noteKeyFrames();
    if (!fields_.ok || failed())
        return;
    avio_flush(io_);
    if (failed())
        return;
    // A RIFF that libavformat closed itself (past 1 GiB) is followed by the next one.
    uint8_t b[24];
    while (read(fields_.riffStart + 4, b, 4) && le32(b) != fields_.lastRiffSize && le32(b) != kUnsetSize) {
        const int64_t next = fields_.riffStart + 8 + padded(le32(b));
        if (!read(next, b, 24) || !isAvixStart(b)) {
            fields_.ok = false; // not what libavformat writes: leave the file to it
            return;
        }
        fields_.riffStart = next;
        fields_.moviList = next + 12;
        fields_.lastRiffSize = kUnsetSize;
    }
    const int64_t end = size();
    if (end < fields_.moviList + 12)
        return;
    fields_.lastRiffSize = static_cast<uint32_t>(end - fields_.riffStart - 8);
    write32(*this, fields_.riffStart + 4, fields_.lastRiffSize);
    write32(*this, fields_.moviList + 4, static_cast<uint32_t>(end - fields_.moviList - 8));
    std::vector<int64_t> lengths;
    for (const auto& s : streams_)
        lengths.push_back(s->written);
    writeCounts(*this, fields_.layout, lengths, fields_.riffStart > 0); // past the first RIFF: OpenDML
    // The system starts writing what the file holds to the disk, without being waited for.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

HRESULT AviMux::checkFile() {
    if (!failed())
        return S_OK;
    const base::Error error = failure();
    if (!failureReported_) {
        failureReported_ = true;
        base::recordLog.error("AVI writer: %s\n", error.text.c_str());
        notify(EC_ERRORABORT, error);
    }
    return error.code;
}

HRESULT AviMux::afterWrite(int err) {
    HRESULT hr = checkFile();
    if (FAILED(hr))
        return hr;
    // Room for an idx1 entry per chunk and a little more, kept beyond the file.
    reserve_ = 16 * ++packets_ + 16384;
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

HRESULT AviMux::flushAudio() {
    for (auto& stream : streams_) {
        Stream& s = *stream;
        if (s.video || heldAudio_.empty())
            continue;
        const int64_t held = static_cast<int64_t>(heldAudio_.size());
        const int64_t room = (audioLimit(s) - s.written) * s.blockAlign;
        const int64_t overflow = held - av_rescale(kMaxHeldAudio, s.rate, UNITS) * s.blockAlign;
        const int64_t allowed = std::clamp<int64_t>(std::max(room, overflow), 0, held);
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
    if (mux->failed())
        return mux->checkFile();
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
        hr = mux->flushAudio();
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
    if (failed())
        return checkFile();
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
    return flushAudio();
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
    if (!failed()) {
        Stream* video = nullptr;
        for (auto& s : streams_)
            if (s->video)
                video = s.get();
        // Sound up to the end of the picture; what is missing becomes silence.
        flushAudio();
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
            if (frames > video->written && !failed()) {
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
    avio_flush(io_);
    if (failed()) {
        // libavformat counted what the disk refused, and its index did not fit: the
        // headers are set to what is on the disk and the index goes into the room kept.
        if (const base::Error error = finishAvi(*this, keyFrames_))
            base::recordLog.warning("AVI writer: the file could not be finished (%s)\n", error.text.c_str());
    }
    const HRESULT hr = checkFile();
    markFinished();
    closeFile();
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
    *position = timeFormat_ == TIME_FORMAT_BYTE ? size() : videoEnd_.load();
    return S_OK;
}

void AviMux::noteKeyFrames() {
    // The key frames go into the marker, for a file that has to be finished after a crash.
    if (markerFd_ < 0 || unnotedKeys_.empty())
        return;
    std::string text;
    char line[48];
    for (const auto& [first, last] : unnotedKeys_) {
        std::snprintf(line, sizeof line, "%lld %lld\n", static_cast<long long>(first),
                      static_cast<long long>(last));
        text += line;
    }
    unnotedKeys_.clear();
    if (::write(markerFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        base::recordLog.warning("AVI writer: the recording's marker cannot be written\n");
}

void AviMux::markFinished() {
    if (markerPath_.empty())
        return;
    ::unlink(markerPath_.c_str());
    markerPath_.clear();
    if (markerFd_ >= 0) {
        ::close(markerFd_);
        markerFd_ = -1;
    }
}

void AviMux::closeFile() {
    if (io_) {
        avio_flush(io_);
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0) {
        if (allocated_ > size())
            if (::ftruncate(fd_, size()) != 0) // gives back the room kept beyond the file
                base::recordLog.warning("AVI writer: the room kept beyond the file stays\n");
        if (::close(fd_) != 0 && !failed())
            fail(errno);
        fd_ = -1;
    }
    if (markerFd_ >= 0) {
        ::close(markerFd_);
        markerFd_ = -1;
    }
}

bool AviMux::ensureRoom(int64_t end) {
    if (limit_ >= 0)
        return end <= limit_;
    if (!canReserve_ || end <= allocated_)
        return true;
    // Held well ahead, so that this asks the system once every few seconds of recording.
    constexpr int64_t kStep = 16 << 20;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, allocated_, end + kStep - allocated_) == 0) {
        allocated_ = end + kStep;
        return true;
    }
    if (errno == ENOSPC || errno == EDQUOT) {
        if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, allocated_, end - allocated_) == 0) {
            allocated_ = end;
            return true;
        }
        return false;
    }
    canReserve_ = false; // not on this filesystem: a full disk shows when a write fails
    return true;
}

void AviMux::fail(int error) {
    if (!error_)
        error_ = error ? error : EIO;
}

base::Error AviMux::failure() const {
    if (error_ == ENOSPC)
        return {E_DISK_FULL, "The disk is full: free some space or choose another output folder."};
    if (error_ == EDQUOT)
        return {E_DISK_FULL, "The disk quota is used up: free some space or choose another output folder."};
    return {E_FAIL, std::string("Writing the file failed (") + std::strerror(error_) +
                        "): check the output folder, or choose another one."};
}

int AviMux::writePacket(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<AviMux*>(opaque);
    const int64_t start = self->pos_;
    int64_t length = size;
    // The file grows only while the disk keeps room for its index beyond it.
    if (!self->failed() && start + length > self->AviFile::size() &&
        !self->ensureRoom(start + length + self->reserve_))
        self->fail(ENOSPC);
    if (self->failed()) {
        // Only what lies inside the file: header fields being patched in place.
        length = std::max<int64_t>(0, std::min<int64_t>(length, self->AviFile::size() - start));
    }
    if (length > 0 && !self->write(start, buf, static_cast<std::size_t>(length)))
        self->fail(errno);
    // libavformat is told that everything was written: once the disk has refused, an
    // error here would stop it from finishing the headers of what is in the file.
    self->pos_ = start + size;
    self->logical_ = std::max(self->logical_, self->pos_);
    return size;
}

int64_t AviMux::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AviMux*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->logical_;
    case SEEK_SET:
        self->pos_ = offset;
        break;
    case SEEK_CUR:
        self->pos_ += offset;
        break;
    case SEEK_END:
        self->pos_ = self->logical_ + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    return self->pos_;
}

} // namespace tavrin::media

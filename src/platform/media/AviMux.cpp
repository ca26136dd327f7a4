// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviMux.h"

#include "base/Diagnostics.h"
#include "base/Os.h"
#include "platform/media/CodecTypes.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/PcmFilter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tavrin::media {

using namespace record;

namespace {

// Two seconds of sound may wait for the picture; past that the picture has
// stalled and the sound goes out anyway.
constexpr REFERENCE_TIME kMaxHeldAudio = 2 * UNITS;

// How often the headers are brought up to date while recording: soon after the first
// picture, so that a recording cut short in its first second says how long it is, then
// once a second.
constexpr auto kFirstHeaderUpdates = std::chrono::milliseconds(200);
constexpr auto kHeaderUpdateInterval = std::chrono::seconds(1);
constexpr REFERENCE_TIME kFirstUpdatesFor = 2 * UNITS;

// The header's view of a stream of 16-bit PCM; false when the type is not one.
bool soundFormat(const MediaType& type, AviStreamFormat& f) {
    auto wfx = type.formatAs<WAVEFORMATEX>();
    if (!(type.majortype == MEDIATYPE_Audio) || !wfx || wfx->wFormatTag != WAVE_FORMAT_PCM ||
        wfx->wBitsPerSample != 16 || wfx->nChannels == 0)
        return false;
    f.rate = wfx->nSamplesPerSec;
    f.sampleSize = wfx->nBlockAlign;
    f.bufferSize = wfx->nAvgBytesPerSec;
    WAVEFORMATEX header = *wfx;
    header.cbSize = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    f.format.assign(bytes, bytes + 18); // the structure without its tail padding
    return true;
}

// The header's view of the encoder's stream: a BITMAPINFOHEADER and the codec's extra data.
void videoFormat(const AVCodecParameters& par, REFERENCE_TIME interval, AviStreamFormat& f) {
    const AVRational frame = frameDuration(interval);
    f.video = true;
    f.handler = par.codec_tag;
    f.scale = static_cast<uint32_t>(frame.num);
    f.rate = static_cast<uint32_t>(frame.den);
    f.width = par.width;
    f.height = par.height;
    BITMAPINFOHEADER bih{};
    bih.biSize = static_cast<uint32_t>(sizeof bih + static_cast<std::size_t>(par.extradata_size));
    bih.biWidth = par.width;
    bih.biHeight = par.height;
    bih.biPlanes = 1;
    bih.biBitCount = static_cast<uint16_t>(par.bits_per_coded_sample);
    bih.biCompression = par.codec_tag;
    bih.biSizeImage = static_cast<uint32_t>(par.width * par.height * par.bits_per_coded_sample / 8);
    f.bufferSize = bih.biSizeImage;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&bih);
    f.format.assign(bytes, bytes + sizeof bih);
    if (par.extradata)
        f.format.insert(f.format.end(), par.extradata, par.extradata + par.extradata_size);
}

} // namespace

base::Result<std::unique_ptr<AviMux>> AviMux::create(const std::string& path, int64_t diskLimit) {
    const int fd = base::os::createOrReplace(path);
    if (fd < 0)
        return base::Error::system(errno, "Cannot create " + path + " (" + std::strerror(errno) +
                                              "): choose another output folder.");
    std::unique_ptr<AviMux> mux(new AviMux(fd, path, diskLimit));
    if (!mux->packet_)
        return base::Error::system(ENOMEM, "Out of memory."); // the file goes with the multiplexer
    return mux;
}

AviMux::AviMux(int fd, std::string path, int64_t diskLimit) : AviFile(fd, diskLimit), path_(std::move(path)) {
    // The marker says "unfinished" until the file is complete; its lock says that this
    // program is writing it, and goes with the program however it ends.
    markerPath_ = unfinishedMarkerPath(path_);
    markerFd_ = base::os::createOrReplace(markerPath_);
    if (markerFd_ >= 0)
        base::os::tryLockFile(markerFd_);
    packet_ = av_packet_alloc();
}

AviMux::~AviMux() {
    stop();
    av_packet_free(&packet_);
    closeFile();
    if (!headerWritten_) { // a recording that never got its header leaves nothing behind
        base::os::removeFile(path_);
        markFinished();
    }
}

SampleReceiver* AviMux::inputFor(const GUID& majorType, BaseFilter* intermediate) {
    auto s = std::make_unique<Stream>();
    s->mux = this;
    s->number = static_cast<int>(streams_.size());
    s->video = majorType == MEDIATYPE_Video;
    s->encoder = s->video ? dynamic_cast<FfmpegCompressor*>(intermediate) : nullptr;
    // The picture only through an encoder of ours, the sound as it is or through "PCM".
    if (headerWritten_ || (s->video ? !s->encoder : intermediate && !dynamic_cast<PcmFilter*>(intermediate)))
        return nullptr;
    streams_.push_back(std::move(s));
    return streams_.back().get();
}

HRESULT AviMux::Stream::ReceiveConnection(const MediaType& type) {
    if (connected || (video != (type.majortype == MEDIATYPE_Video)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (!video) {
        if (!soundFormat(type, format))
            return VFW_E_TYPE_NOT_ACCEPTED;
        connected = true;
        return S_OK;
    }
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par)
        return E_OUTOFMEMORY;
    const base::Error error = encoder->open(type, par);
    if (!error) {
        interval = type.formatAs<VIDEOINFOHEADER>()->AvgTimePerFrame;
        videoFormat(*par, interval, format);
    }
    avcodec_parameters_free(&par);
    if (error && !error.text.empty()) // the encoder would not start: say why
        mux->notify(EC_ERRORABORT, error);
    connected = !error;
    return statusOf(error);
}

HRESULT AviMux::start() {
    std::lock_guard lk(writeMutex_);
    if (headerWritten_)
        return S_OK;
    if (!packet_ || finished_)
        return E_UNEXPECTED;
    std::vector<AviStreamFormat> formats;
    REFERENCE_TIME interval = 0;
    for (auto& s : streams_) {
        if (!s->connected)
            return VFW_E_NOT_CONNECTED;
        formats.push_back(s->format);
        interval = s->video ? s->interval : interval;
    }
    if (streams_.empty())
        return VFW_E_NOT_CONNECTED;
    if (!writeHeader(formats, static_cast<uint32_t>(interval / 10))) {
        const base::Error error = failure();
        notify(EC_ERRORABORT, error);
        return statusOf(error);
    }
    headerWritten_ = true;
    nextHeaderUpdate_ = {}; // with the first picture
    return S_OK;
}

void AviMux::updateHeaders() {
    noteKeyFrames();
    if (failed())
        return;
    AviFile::updateHeaders();
    // The system starts writing what the file holds to the disk, without being waited for.
    base::os::startWriteBack(fd_);
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
    return statusOf(error);
}

int64_t AviMux::audioLimit(const Stream& s) const {
    return av_rescale(videoEnd_.load(), s.format.rate, UNITS);
}

HRESULT AviMux::flushAudio() {
    for (auto& stream : streams_) {
        Stream& s = *stream;
        if (s.video || heldAudio_.empty())
            continue;
        const int64_t held = static_cast<int64_t>(heldAudio_.size());
        const int64_t room = (audioLimit(s) - s.written()) * s.blockAlign();
        const int64_t overflow = held - av_rescale(kMaxHeldAudio, s.format.rate, UNITS) * s.blockAlign();
        const int64_t allowed = std::clamp<int64_t>(std::max(room, overflow), 0, held);
        if (allowed > 0 && !writeChunk(s.number, heldAudio_.data(), static_cast<uint32_t>(allowed), true))
            return checkFile();
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
        mux->notify(EC_ERRORABORT, base::Error::status(hr, "The video encoder failed."));
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
        if (index < written()) { // never backwards in an AVI
            av_packet_unref(packet);
            continue;
        }
        // Slots the source left out stay empty chunks (it counts them as skipped).
        while (written() < index && !mux->failed())
            mux->writeChunk(number, nullptr, 0, false);
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        // The encoder's packet itself goes into the file (none does after a failure).
        mux->writeChunk(number, packet->data, static_cast<uint32_t>(packet->size), key);
        mux->pictureWritten_ = mux->pictureWritten_ || (packet->size > 0 && !mux->failed());
        av_packet_unref(packet);
        if (mux->failed())
            return mux->checkFile();
        if (key)
            addKeyFrame(mux->unnotedKeys_, index);
        mux->videoEnd_.store(written() * interval);
        hr = mux->flushAudio();
        if (FAILED(hr))
            return hr;
        if (const auto now = std::chrono::steady_clock::now(); now >= mux->nextHeaderUpdate_) {
            mux->nextHeaderUpdate_ = now + (mux->videoEnd_.load() < kFirstUpdatesFor ? kFirstHeaderUpdates
                                                                                     : kHeaderUpdateInterval);
            mux->updateHeaders();
        }
    }
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
        return S_OK;
    mux->notify(EC_ERRORABORT,
                base::Error::library(err, "The video encoder failed (" + avErrorText(err) + ")."));
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
    int64_t keep = length - length % s.blockAlign();
    if (videoEnded_) {
        // The picture has ended: the sound still on its way up to the picture's end is
        // kept (the input hands it over a little late), none past it.
        const int64_t room =
            (audioLimit(s) - s.written()) * s.blockAlign() - static_cast<int64_t>(heldAudio_.size());
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
            const int64_t missing = audioLimit(s) - s.written();
            if (missing > 0) {
                std::vector<uint8_t> silence(static_cast<std::size_t>(missing * s.blockAlign()), 0);
                writeChunk(s.number, silence.data(), static_cast<uint32_t>(silence.size()), true);
            }
            // Sound that went out ahead of a stalled picture: the picture's last frame is held.
            const int64_t frames = av_rescale(s.written(), UNITS, s.format.rate) / video->interval;
            while (video->written() < frames && !failed())
                writeChunk(video->number, nullptr, 0, false);
        }
    }
    // Also after the disk refused more: the index of what is in the file goes into the room kept.
    if (!closeRiff(true))
        base::recordLog.warning("AVI writer: the file could not be finished (%s)\n", std::strerror(errno));
    const HRESULT hr = checkFile();
    markFinished();
    closeFile();
    if (!pictureWritten_) { // a file of no picture is no recording: no reader would open it
        base::os::removeFile(path_);
        base::recordLog.info("%s held no picture and is not kept\n", path_.c_str());
    }
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
    if (base::os::writeFile(markerFd_, text.data(), text.size()) != static_cast<long long>(text.size()))
        base::recordLog.warning("AVI writer: the recording's marker cannot be written\n");
}

void AviMux::markFinished() {
    if (markerPath_.empty())
        return;
    base::os::removeFile(markerPath_);
    markerPath_.clear();
    if (markerFd_ >= 0) {
        base::os::closeFile(markerFd_);
        markerFd_ = -1;
    }
}

void AviMux::closeFile() {
    if (fd_ >= 0) {
        if (allocated_ > size() || failed())            // also a chunk the disk took only in part
            if (base::os::resizeFile(fd_, size()) != 0) // gives back the room kept beyond the file
                base::recordLog.warning("AVI writer: the room kept beyond the file stays\n");
        if (base::os::closeFile(fd_) != 0 && !failed())
            fail(errno);
        fd_ = -1;
    }
    if (markerFd_ >= 0) {
        base::os::closeFile(markerFd_);
        markerFd_ = -1;
    }
}

base::Error AviMux::failure() const {
    if (error() == ENOSPC)
        return base::Error::system(ENOSPC,
                                   "The disk is full: free some space or choose another output folder.");
#ifdef EDQUOT // Windows reports a full quota as a full disk
    if (error() == EDQUOT)
        return base::Error::system(
            EDQUOT, "The disk quota is used up: free some space or choose another output folder.");
#endif
    return base::Error::system(error(), std::string("Writing the file failed (") + std::strerror(error()) +
                                            "): check the output folder, or choose another one.");
}

} // namespace tavrin::media

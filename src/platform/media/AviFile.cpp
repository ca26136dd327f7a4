// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviFile.h"

#include "base/Diagnostics.h"
#include "base/Os.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tavrin::media {

namespace {

// Entries of each super index: 256 RIFFs of 1 GiB.
constexpr int64_t kSuperIndexEntries = 256;
constexpr uint32_t kKeyFrameFlag = 0x10;             // AVIIF_KEYFRAME
constexpr uint32_t kNotKeyFrame = 0x80000000u;       // in a standard index entry's size
constexpr uint32_t kAviFlags = 0x10 | 0x100 | 0x800; // HASINDEX, ISINTERLEAVED, TRUSTCKTYPE
// Room kept beyond the file's index, for its last headers.
constexpr int64_t kIndexMargin = 16384;
constexpr const char* kMarkerSuffix = ".unfinished";

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
bool isTag(const uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}
// A chunk's size in the file: odd sizes are padded to even.
int64_t padded(uint32_t size) {
    return static_cast<int64_t>(size) + (size & 1);
}
// The stream a chunk's id ("01wb") names, or -1.
int chunkStream(const uint8_t* id) {
    const bool digits = id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9';
    return digits ? (id[0] - '0') * 10 + (id[1] - '0') : -1;
}
// "00dc", "01wb", "ix00": the stream number in decimal.
std::string chunkId(std::size_t stream, bool video, bool index = false) {
    char id[8];
    if (index)
        std::snprintf(id, sizeof id, "ix%02zu", stream % 100);
    else
        std::snprintf(id, sizeof id, "%02zu%s", stream % 100, video ? "dc" : "wb");
    return id;
}

bool inRanges(const KeyFrameRanges& ranges, int64_t n) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), n,
                               [](int64_t v, const std::pair<int64_t, int64_t>& r) { return v < r.first; });
    return it != ranges.begin() && n <= std::prev(it)->second;
}

// Little-endian bytes of a header or an index, built in memory.
struct Bytes {
    std::vector<uint8_t> b;
    // `v` in `n` bytes.
    void put(uint64_t v, int n = 4) {
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u32(std::initializer_list<uint32_t> fields) {
        for (uint32_t v : fields)
            put(v);
    }
    void tag(const std::string& t) { b.insert(b.end(), t.begin(), t.begin() + 4); }
    void zeros(std::size_t n) { b.resize(b.size() + n, 0); }
    int64_t at() const { return static_cast<int64_t>(b.size()); }
    // Starts a chunk, or a list of type `list`; end() sets its size and pads it.
    int64_t begin(const std::string& t, const char* list = nullptr) {
        const int64_t start = at();
        tag(t);
        put(0);
        if (list)
            tag(list);
        return start;
    }
    void end(int64_t start) {
        const auto size = static_cast<uint32_t>(at() - start - 8);
        put32(b.data() + start + 4, size);
        if (size & 1)
            put(0, 1);
    }
};

} // namespace

AviFile::AviFile(int fd, int64_t limit, int64_t riffSize) : fd_(fd), limit_(limit), riffSize_(riffSize) {
    const long long end = base::os::fileSize(fd);
    size_.store(end > 0 ? end : 0);
}

bool AviFile::read(int64_t offset, void* data, std::size_t size) const {
    // A regular file gives all that it holds at once.
    return offset >= 0 && offset + static_cast<int64_t>(size) <= size_.load() &&
           base::os::readAt(fd_, data, size, offset) == static_cast<long long>(size);
}

bool AviFile::write(int64_t offset, const void* data, std::size_t size) {
    if (limit_ >= 0 && offset + static_cast<int64_t>(size) > limit_) {
        errno = ENOSPC;
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const int64_t at = offset + static_cast<int64_t>(done);
        const long long n = base::os::writeAt(fd_, static_cast<const uint8_t*>(data) + done, size - done, at);
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
        if (at + n > size_.load()) // what is written counts, also when the rest is refused
            size_.store(at + n);
    }
    return true;
}

bool AviFile::write32(int64_t offset, uint32_t value) {
    uint8_t b[4];
    put32(b, value);
    return write(offset, b, 4);
}

bool AviFile::writeHeader(const std::vector<AviStreamFormat>& formats, uint32_t microSecPerFrame) {
    const auto video = std::find_if(formats.begin(), formats.end(), [](const auto& f) { return f.video; });
    uint32_t bufferSize = 0;
    for (const AviStreamFormat& f : formats)
        bufferSize = std::max(bufferSize, f.bufferSize);
    Bytes h;
    const int64_t riff = h.begin("RIFF", "AVI ");
    const int64_t hdrl = h.begin("LIST", "hdrl");
    const int64_t avih = h.begin("avih");
    const bool hasVideo = video != formats.end();
    // dwMicroSecPerFrame, dwMaxBytesPerSec, dwPaddingGranularity, dwFlags
    h.u32({microSecPerFrame, 0, 0, kAviFlags});
    avihFrames_ = h.at();
    // dwTotalFrames, dwInitialFrames, dwStreams, dwSuggestedBufferSize, dwWidth, dwHeight, dwReserved
    h.u32({0, 0, static_cast<uint32_t>(formats.size()), bufferSize,
           hasVideo ? static_cast<uint32_t>(video->width) : 0,
           hasVideo ? static_cast<uint32_t>(video->height) : 0, 0, 0, 0, 0});
    h.end(avih);
    streams_.clear();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const AviStreamFormat& f = formats[i];
        Stream s;
        s.video = f.video;
        s.sampleSize = f.sampleSize;
        s.scale = f.scale;
        s.rate = f.rate;
        const int64_t strl = h.begin("LIST", "strl");
        const int64_t strh = h.begin("strh");
        h.tag(f.video ? "vids" : "auds");
        // fccHandler, dwFlags, wPriority and wLanguage, dwInitialFrames, dwScale, dwRate, dwStart
        h.u32({f.handler, 0, 0, 0, f.scale, f.rate, 0});
        s.lengthField = h.at();
        // dwLength, dwSuggestedBufferSize, dwQuality (the default), dwSampleSize
        h.u32({0, f.bufferSize, 0xFFFFFFFF, f.sampleSize});
        h.put(0); // rcFrame: left, top, right, bottom
        h.put(static_cast<uint32_t>(f.width), 2);
        h.put(static_cast<uint32_t>(f.height), 2);
        h.end(strh);
        const int64_t strf = h.begin("strf");
        h.b.insert(h.b.end(), f.format.begin(), f.format.end());
        h.end(strf);
        // The super index: an entry for each RIFF, written as the RIFF is closed.
        s.superIndex = h.begin("indx");
        h.u32({4, 0}); // wLongsPerEntry, bIndexSubType and bIndexType (AVI_INDEX_OF_INDEXES); nEntriesInUse
        h.tag(chunkId(i, f.video));
        h.zeros(12 + kSuperIndexEntries * 16);
        h.end(s.superIndex);
        h.end(strl);
        streams_.push_back(s);
    }
    odml_ = h.begin("LIST", "odml");
    const int64_t dmlh = h.begin("dmlh");
    h.zeros(248);
    h.end(dmlh);
    h.end(odml_);
    h.end(hdrl);
    riff_ = 0;
    riffs_ = 0;
    entries_.clear();
    movi_ = h.begin("LIST", "movi");
    h.end(movi_);
    h.end(riff);
    if (!ensureRoom(h.at() + kIndexMargin) || !write(0, h.b.data(), h.b.size()))
        fail(errno);
    return !failed();
}

bool AviFile::writeChunk(int stream, const void* data, uint32_t size, bool key) {
    const int64_t at = this->size();
    if (failed() || !ensureRoom(at + 8 + size + 1 + indexRoom() + 24 + kIndexMargin) ||
        (at - riff_ > riffSize_ && !closeRiff(false))) {
        fail(errno);
        return false;
    }
    Stream& s = streams_[static_cast<std::size_t>(stream)];
    uint8_t head[8];
    std::memcpy(head, chunkId(static_cast<std::size_t>(stream), s.video).data(), 4);
    put32(head + 4, size);
    const uint8_t pad = 0;
    const int64_t start = this->size();
    if (!write(start, head, 8) || !write(start + 8, data, size) || !write(start + 8 + size, &pad, size & 1)) {
        fail(errno);
        size_.store(start); // a chunk cut short is no chunk: the index goes in its place
        return false;
    }
    entries_.push_back({start, size, static_cast<uint16_t>(stream), key});
    s.length += s.video ? 1 : size / s.sampleSize;
    return true;
}

void AviFile::fail(int error) {
    if (!error_)
        error_ = error ? error : EIO;
}

namespace {

bool diskFull(int error) {
#ifdef EDQUOT
    return error == ENOSPC || error == EDQUOT;
#else
    return error == ENOSPC; // Windows reports a full quota as a full disk
#endif
}

} // namespace

bool AviFile::ensureRoom(int64_t end) {
    if (limit_ >= 0) {
        errno = ENOSPC;
        return end <= limit_;
    }
    if (!canReserve_ || end <= allocated_)
        return true;
    // Held well ahead, so that this asks the system once every few seconds of recording.
    constexpr int64_t kStep = 16 << 20;
    if (base::os::reserveRoom(fd_, end + kStep) == 0) {
        allocated_ = end + kStep;
        return true;
    }
    if (diskFull(errno)) {
        if (base::os::reserveRoom(fd_, end) == 0) {
            allocated_ = end;
            return true;
        }
        return false; // errno says which
    }
    canReserve_ = false; // not on this filesystem: a full disk shows when a write fails
    return true;
}

void AviFile::updateHeaders() {
    const int64_t end = size();
    write32(riff_ + 4, static_cast<uint32_t>(end - riff_ - 8));
    write32(movi_ + 4, static_cast<uint32_t>(end - movi_ - 8));
    writeLengths();
}

int64_t AviFile::videoLength() const {
    for (const Stream& s : streams_)
        if (s.video)
            return s.length;
    return 0;
}

void AviFile::writeLengths() {
    for (const Stream& s : streams_)
        write32(s.lengthField, static_cast<uint32_t>(s.length));
    const int64_t frames = videoLength();
    // The main header counts the first RIFF's frames, the extended one all of them.
    write32(avihFrames_, static_cast<uint32_t>(riffs_ == 0 ? frames : firstRiffFrames_));
    if (odml_ >= 0)
        write32(odml_ + 20, static_cast<uint32_t>(frames));
}

int64_t AviFile::indexRoom() const {
    const auto entries = static_cast<int64_t>(entries_.size());
    return entries * (riffs_ == 0 ? 24 : 8) + static_cast<int64_t>(streams_.size()) * 32 + 8 + 24;
}

bool AviFile::closeRiff(bool last) {
    const int64_t base = movi_ + 8; // the indexes count from the movi tag
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const Stream& s = streams_[i];
        Bytes x;
        const int64_t start = x.begin(chunkId(i, s.video, true));
        x.u32({2 | 1 << 24}); // wLongsPerEntry, bIndexSubType, bIndexType: AVI_INDEX_OF_CHUNKS
        const int64_t count = x.at();
        x.put(0); // nEntriesInUse
        x.tag(chunkId(i, s.video));
        x.put(static_cast<uint64_t>(base), 8);
        x.put(0);
        uint32_t n = 0;
        int64_t duration = 0;
        for (const Entry& e : entries_) {
            if (e.stream != i)
                continue;
            x.u32({static_cast<uint32_t>(e.pos + 8 - base), e.size | (e.key ? 0 : kNotKeyFrame)});
            ++n;
            duration += s.video ? 1 : e.size / s.sampleSize;
        }
        put32(x.b.data() + count, n);
        x.end(start);
        // Its entry in the stream's super index, in use up to this RIFF's: a close cut
        // short by a crash is done again.
        Bytes entry;
        entry.put(static_cast<uint64_t>(size()), 8);
        entry.u32({static_cast<uint32_t>(x.b.size()), static_cast<uint32_t>(duration)});
        if (!write(size(), x.b.data(), x.b.size()))
            return false;
        if (s.superIndex >= 0 && riffs_ < kSuperIndexEntries &&
            (!write(s.superIndex + 32 + riffs_ * 16, entry.b.data(), entry.b.size()) ||
             !write32(s.superIndex + 12, static_cast<uint32_t>(riffs_ + 1)) ||
             !write(s.superIndex, "indx", 4)))
            return false;
    }
    if (!write32(movi_ + 4, static_cast<uint32_t>(size() - movi_ - 8)))
        return false;
    if (riffs_ == 0) { // the first RIFF also has the index every reader knows
        Bytes x;
        const int64_t start = x.begin("idx1");
        for (const Entry& e : entries_) {
            x.tag(chunkId(e.stream, streams_[e.stream].video));
            x.u32({e.key ? kKeyFrameFlag : 0, static_cast<uint32_t>(e.pos - base), e.size});
        }
        x.end(start);
        if (!write(size(), x.b.data(), x.b.size()))
            return false;
    }
    if (!write32(riff_ + 4, static_cast<uint32_t>(size() - riff_ - 8)))
        return false;
    if (riffs_ == 0)
        firstRiffFrames_ = videoLength();
    // Earlier files kept the extended header as padding until they passed 1 GiB.
    if (odml_ >= 0 && !write(odml_, "LIST", 4))
        return false;
    ++riffs_;
    entries_.clear();
    writeLengths();
    if (last)
        return true;
    Bytes x;
    const int64_t riff = x.begin("RIFF", "AVIX");
    const int64_t movi = x.begin("LIST", "movi");
    x.end(movi);
    x.end(riff);
    riff_ = size();
    movi_ = riff_ + 12;
    return write(riff_, x.b.data(), x.b.size());
}

void AviFile::readHeaderList(int64_t pos, int64_t end, bool inStreamList) {
    uint8_t b[12];
    while (pos + 12 <= end && read(pos, b, 12)) {
        const uint32_t size = le32(b + 4);
        const int64_t next = pos + 8 + padded(size);
        uint8_t align[2];
        if (isTag(b, "LIST") && isTag(b + 8, "strl")) {
            streams_.emplace_back();
            readHeaderList(pos + 12, std::min(end, next), true);
        } else if (isTag(b, "avih")) {
            avihFrames_ = pos + 8 + 16;
        } else if ((isTag(b, "LIST") || isTag(b, "JUNK")) && isTag(b + 8, "odml")) {
            odml_ = pos;
        } else if (inStreamList && isTag(b, "strh")) {
            streams_.back().video = isTag(b + 8, "vids");
            streams_.back().lengthField = pos + 8 + 32;
            uint8_t timing[8]; // dwScale, dwRate
            if (read(pos + 8 + 20, timing, 8)) {
                streams_.back().scale = le32(timing);
                streams_.back().rate = le32(timing + 4);
            }
        } else if (inStreamList && isTag(b, "strf") && read(pos + 8 + 12, align, 2)) {
            streams_.back().sampleSize = align[0] | align[1] << 8; // nBlockAlign, for sound
        } else if (inStreamList && (isTag(b, "indx") || isTag(b, "JUNK")) &&
                   size >= 24 + 16 * kSuperIndexEntries) {
            streams_.back().superIndex = pos; // earlier files kept it as padding until needed
        }
        pos = next;
    }
}

base::Error AviFile::readBack(const KeyFrameRanges& keyFrames) {
    const auto bad = [](const char* why) { return base::Error::system(EINVAL, why); };
    const int64_t end = size();
    uint8_t b[24];
    if (!read(0, b, 12) || !isTag(b, "RIFF") || !isTag(b + 8, "AVI "))
        return bad("not an AVI file");
    streams_.clear();
    movi_ = -1;
    for (int64_t pos = 12; movi_ < 0 && pos + 12 <= end && read(pos, b, 12);) {
        const int64_t next = pos + 8 + padded(le32(b + 4));
        if (isTag(b, "LIST") && isTag(b + 8, "movi"))
            movi_ = pos;
        else if (isTag(b, "LIST") && isTag(b + 8, "hdrl"))
            readHeaderList(pos + 12, std::min(end, next), false);
        pos = next;
    }
    if (movi_ < 0 || avihFrames_ < 0 || streams_.empty())
        return bad("no AVI header and movi list");
    for (const Stream& s : streams_)
        if (s.lengthField < 0 || (!s.video && s.sampleSize == 0))
            return bad("a stream without its header or format");

    // The chunks, up to the last one that is whole; RIFFs followed by another are closed.
    int64_t pos = movi_ + 12;
    while (pos + 8 <= end && read(pos, b, 8)) {
        if (isTag(b, "RIFF")) {
            if (!read(pos, b, 24) || !isTag(b + 8, "AVIX") || !isTag(b + 12, "LIST") ||
                !isTag(b + 20, "movi"))
                break;
            if (riffs_++ == 0)
                firstRiffFrames_ = videoLength();
            entries_.clear();
            riff_ = pos;
            movi_ = pos + 12;
            pos += 24;
            continue;
        }
        const uint32_t size = le32(b + 4);
        const int64_t next = pos + 8 + padded(size);
        if (next > end)
            break; // cut short
        const int n = chunkStream(b);
        if (n >= 0 && n < static_cast<int>(streams_.size())) {
            Stream& s = streams_[static_cast<std::size_t>(n)];
            const bool key = !s.video || (size > 0 && (s.length == 0 || inRanges(keyFrames, s.length)));
            entries_.push_back({pos, size, static_cast<uint16_t>(n), key});
            s.length += s.video ? 1 : size / s.sampleSize;
        }
        pos = next;
    }
    if (pos < end) { // what follows the last whole chunk becomes padding that readers step over
        const int64_t junk = std::max<int64_t>(0, end - pos - 8);
        uint8_t h[9] = {'J', 'U', 'N', 'K', 0, 0, 0, 0, 0};
        put32(h + 4, static_cast<uint32_t>(junk));
        if (!write(pos, h, 8) || !write(pos + 8 + junk, h + 8, static_cast<std::size_t>(junk & 1)))
            return base::Error::system(EIO, "the file cannot be written");
    }
    return {};
}

bool AviFile::levelStreams() {
    const auto first = [&](bool video) {
        return std::find_if(streams_.begin(), streams_.end(),
                            [&](const Stream& s) { return s.video == video; });
    };
    const auto v = first(true);
    const auto a = first(false);
    if (v == streams_.end() || a == streams_.end() || v->rate == 0 || a->rate == 0 || v->scale == 0 ||
        a->scale == 0 || a->sampleSize == 0)
        return true;
    const auto seconds = [](const Stream& s) { return static_cast<double>(s.length) * s.scale / s.rate; };
    const double picture = seconds(*v);
    const double heard = seconds(*a);
    const auto index = [&](auto it) { return static_cast<std::size_t>(it - streams_.begin()); };
    if (picture < heard) // the last frame held until the sound ends
        return extendStream(index(v), static_cast<int64_t>(std::ceil(heard * v->rate / v->scale - 1e-6)));
    return extendStream(index(a), static_cast<int64_t>(std::floor(picture * a->rate / a->scale + 1e-6)));
}

bool AviFile::extendStream(std::size_t stream, int64_t length) {
    Stream& s = streams_[stream];
    // Silence a second at a time (at most a few seconds are ever missing).
    const int64_t step = s.video ? 0 : std::max<int64_t>(1, s.rate / std::max<uint32_t>(1, s.scale));
    std::vector<uint8_t> silence(static_cast<std::size_t>(step * s.sampleSize), 0);
    while (s.length < length) {
        const int64_t n = s.video ? 0 : std::min(step, length - s.length) * s.sampleSize;
        if (!writeChunk(static_cast<int>(stream), silence.data(), static_cast<uint32_t>(n),
                        s.video ? false : true))
            return false;
    }
    return true;
}

void addKeyFrame(KeyFrameRanges& ranges, int64_t n) {
    if (!ranges.empty() && ranges.back().second + 1 == n)
        ranges.back().second = n;
    else
        ranges.emplace_back(n, n);
}

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string unfinishedMarkerPath(const std::string& aviPath) {
    const std::size_t slash = aviPath.find_last_of(kSeparators);
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    return aviPath.substr(0, name) + "." + aviPath.substr(name) + kMarkerSuffix;
}

KeyFrameRanges readKeyFrames(const std::string& markerPath) {
    KeyFrameRanges ranges;
    const int fd = base::os::openForReading(markerPath);
    if (fd < 0)
        return ranges;
    std::string text;
    char buffer[4096];
    long long n;
    while ((n = base::os::readFile(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    base::os::closeFile(fd);
    const char* at = text.c_str();
    long long first = 0, last = 0;
    int used = 0;
    while (std::sscanf(at, "%lld %lld%n", &first, &last, &used) == 2) {
        at += used;
        if (first <= last && (ranges.empty() || first > ranges.back().second))
            ranges.emplace_back(first, last);
    }
    return ranges;
}

std::vector<std::string> recoverRecordings(const std::string& folder) {
    std::vector<std::string> recovered;
    std::vector<std::string> markers;
    for (const std::string& name : base::os::folderEntries(folder)) {
        const std::size_t suffix = std::strlen(kMarkerSuffix);
        if (name.size() > suffix + 5 && name[0] == '.' &&
            name.compare(name.size() - suffix, suffix, kMarkerSuffix) == 0)
            markers.push_back(name);
    }
    std::sort(markers.begin(), markers.end());
    const std::string base =
        folder.empty() || std::strchr(kSeparators, folder.back()) ? folder : folder + "/";
    for (const std::string& marker : markers) {
        const std::string markerPath = base + marker;
        const std::string fileName = marker.substr(1, marker.size() - 1 - std::strlen(kMarkerSuffix));
        const int lock = base::os::openForUpdate(markerPath);
        if (lock < 0)
            continue;
        if (!base::os::tryLockFile(lock)) {
            base::os::closeFile(lock); // a program is writing it now
            continue;
        }
        const int fd = base::os::openForUpdate(base + fileName);
        if (fd < 0) {
            if (errno == ENOENT)
                base::os::removeFile(markerPath); // the recording is gone
            base::os::closeFile(lock);
            continue;
        }
        // Finished as the writer finishes a file at its stop.
        AviFile file(fd);
        base::Error error = file.readBack(readKeyFrames(markerPath));
        if (!error && (!file.levelStreams() || !file.closeRiff(true)))
            error = base::Error::system(errno, std::strerror(errno));
        if (!error) {
            // Gives back any room the recording kept on the disk beyond the file.
            if (base::os::resizeFile(fd, file.size()) != 0)
                base::recordLog.warning("%s: the room kept beyond it stays\n", fileName.c_str());
            base::os::flushToDisk(fd);
            base::recordLog.info("Recovered %s\n", fileName.c_str());
            recovered.push_back(fileName);
        } else {
            // Not a file this can finish: it is left as it is, and not tried again.
            base::recordLog.warning("%s was left unfinished and cannot be finished (%s)\n", fileName.c_str(),
                                    error.text.c_str());
        }
        base::os::removeFile(markerPath);
        base::os::closeFile(fd);
        base::os::closeFile(lock);
    }
    return recovered;
}

} // namespace tavrin::media

// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/AviFinisher.h"

#include "base/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

namespace tavrin::media {

namespace {

constexpr uint32_t kKeyFrameFlag = 0x10; // AVIIF_KEYFRAME
constexpr const char* kMarkerSuffix = ".unfinished";

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

struct Riff {
    int64_t start = 0;
    int64_t movi = -1;
    bool hasIdx1 = false;
};

bool inRanges(const KeyFrameRanges& ranges, int64_t n) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), n,
                               [](int64_t v, const std::pair<int64_t, int64_t>& r) { return v < r.first; });
    return it != ranges.begin() && n <= std::prev(it)->second;
}

} // namespace

AviFile::AviFile(int fd, int64_t limit) : fd_(fd), limit_(limit) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    size_.store(end > 0 ? end : 0);
}

bool AviFile::read(int64_t offset, void* data, std::size_t size) const {
    if (fd_ < 0 || offset < 0 || offset + static_cast<int64_t>(size) > size_.load())
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, static_cast<uint8_t*>(data) + done, size - done,
                                  offset + static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AviFile::write(int64_t offset, const void* data, std::size_t size) {
    if (fd_ < 0 || offset < 0) {
        errno = EBADF;
        return false;
    }
    if (limit_ >= 0 && offset + static_cast<int64_t>(size) > limit_) {
        errno = ENOSPC;
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const int64_t at = offset + static_cast<int64_t>(done);
        const ssize_t n = ::pwrite(fd_, static_cast<const uint8_t*>(data) + done, size - done, at);
        if (n < 0 && errno == EINTR)
            continue;
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

bool write32(AviFile& file, int64_t offset, uint32_t value) {
    uint8_t b[4];
    put32(b, value);
    return file.write(offset, b, 4);
}

void writeCounts(AviFile& file, const AviLayout& layout, const std::vector<int64_t>& lengths, bool openDml) {
    int64_t frames = 0;
    for (std::size_t i = 0; i < lengths.size() && i < layout.streams.size(); ++i) {
        if (layout.streams[i].video)
            frames = std::max(frames, lengths[i]);
        write32(file, layout.streams[i].lengthField, static_cast<uint32_t>(lengths[i]));
    }
    if (!openDml) {
        write32(file, layout.avihFrames, static_cast<uint32_t>(frames));
    } else if (layout.odml > 0) {
        file.write(layout.odml, "LIST", 4);
        write32(file, layout.odml + 20, static_cast<uint32_t>(frames));
    }
}

void addKeyFrame(KeyFrameRanges& ranges, int64_t n) {
    if (!ranges.empty() && ranges.back().second + 1 == n)
        ranges.back().second = n;
    else
        ranges.emplace_back(n, n);
}

base::Result<AviLayout> readAviLayout(const AviFile& file) {
    const auto fail = [](const char* why) { return base::Error{EINVAL, why}; };
    const int64_t end = file.size();
    uint8_t b[20];
    if (end < 24 || !file.read(0, b, 12) || !isTag(b, "RIFF") || !isTag(b + 8, "AVI "))
        return fail("not an AVI file");
    AviLayout layout;
    int64_t pos = 12;
    while (pos + 12 <= end && file.read(pos, b, 12)) {
        const uint32_t size = le32(b + 4);
        if (isTag(b, "LIST") && isTag(b + 8, "movi")) {
            layout.movi = pos;
            break;
        }
        if (isTag(b, "LIST") && isTag(b + 8, "hdrl")) {
            const int64_t listEnd = std::min(end, pos + 8 + padded(size));
            for (int64_t sub = pos + 12; sub + 8 <= listEnd && file.read(sub, b, 20);) {
                const uint32_t subSize = le32(b + 4);
                if (isTag(b, "avih")) {
                    layout.avihFrames = sub + 8 + 16;
                } else if (isTag(b, "LIST") && isTag(b + 8, "strl") && isTag(b + 12, "strh")) {
                    AviLayout::Stream s;
                    const int64_t strh = sub + 12;
                    uint8_t h[12];
                    if (!file.read(strh, h, 12))
                        return fail("a stream header cut short");
                    s.video = isTag(h + 8, "vids");
                    s.lengthField = strh + 8 + 32;
                    const int64_t strf = strh + 8 + padded(le32(h + 4));
                    uint8_t f[22];
                    if (!s.video && file.read(strf, f, 22) && isTag(f, "strf"))
                        s.blockAlign = static_cast<uint32_t>(f[8 + 12]) | static_cast<uint32_t>(f[8 + 13])
                                                                              << 8;
                    if (!s.video && s.blockAlign == 0)
                        return fail("a sound stream without its format");
                    layout.streams.push_back(s);
                } else if ((isTag(b, "JUNK") || isTag(b, "LIST")) && isTag(b + 8, "odml") &&
                           isTag(b + 12, "dmlh")) {
                    layout.odml = sub;
                }
                sub += 8 + padded(subSize);
            }
        }
        pos += 8 + padded(size);
    }
    if (layout.movi < 0 || layout.avihFrames < 0 || layout.streams.empty())
        return fail("no AVI header and movi list");
    return layout;
}

base::Error finishAvi(AviFile& file, const KeyFrameRanges& keyFrames) {
    const auto fail = [](const char* why) { return base::Error{EIO, why}; };
    auto layout = readAviLayout(file);
    if (!layout)
        return layout.error();
    const int64_t end = file.size();
    uint8_t b[24];
    struct StreamCount {
        int64_t chunks = 0;
        int64_t bytes = 0;
    };
    std::vector<StreamCount> counts(layout->streams.size());
    std::vector<Riff> riffs = {{0, layout->movi, false}};

    // The chunks, up to the last one that is whole.
    struct Chunk {
        int64_t pos;
        uint8_t id[4];
        uint32_t size;
        int stream;
    };
    std::vector<Chunk> firstMovi;     // for the index of the first RIFF
    int64_t pos = riffs[0].movi + 12; // ends after the last whole chunk
    bool inMovi = true;
    while (pos + 8 <= end && file.read(pos, b, 8)) {
        const uint32_t size = le32(b + 4);
        if (isTag(b, "RIFF")) {
            if (!file.read(pos, b, 24) || !isAvixStart(b))
                break;
            riffs.push_back({pos, pos + 12, false});
            inMovi = true;
            pos += 24;
            continue;
        }
        const int64_t next = pos + 8 + padded(size);
        if (size == 0xFFFFFFFFu || next > end)
            break; // cut short
        if (isTag(b, "idx1")) {
            riffs.back().hasIdx1 = true;
            inMovi = false;
        } else if (const int n = chunkStream(b); inMovi && n >= 0) {
            if (n < static_cast<int>(counts.size())) {
                ++counts[n].chunks;
                counts[n].bytes += size;
            }
            if (riffs.size() == 1)
                firstMovi.push_back({pos, {b[0], b[1], b[2], b[3]}, size, n});
        }
        pos = next;
    }

    // What follows the last whole chunk becomes padding that readers step over.
    int64_t contentEnd = pos;
    if (pos < end) {
        const int64_t junk = std::max<int64_t>(0, end - pos - 8);
        uint8_t h[9] = {'J', 'U', 'N', 'K', 0, 0, 0, 0, 0};
        put32(h + 4, static_cast<uint32_t>(junk));
        if (!file.write(pos, h, 8))
            return fail("the file cannot be written");
        contentEnd = pos + 8 + junk;
        if (junk & 1) {
            if (!file.write(contentEnd, h + 8, 1))
                return fail("the file cannot be written");
            ++contentEnd;
        }
    }
    int64_t fileEnd = contentEnd;
    const Riff& last = riffs.back();
    if (inMovi && !write32(file, last.movi + 4, static_cast<uint32_t>(contentEnd - last.movi - 8)))
        return fail("the file cannot be written");

    // The index of the first RIFF, as libavformat writes it: offsets from the movi tag.
    if (riffs.size() == 1 && !riffs[0].hasIdx1) {
        std::vector<uint8_t> idx(8 + firstMovi.size() * 16);
        std::memcpy(idx.data(), "idx1", 4);
        put32(idx.data() + 4, static_cast<uint32_t>(firstMovi.size() * 16));
        std::vector<int64_t> videoChunks(counts.size(), 0);
        uint8_t* e = idx.data() + 8;
        for (const Chunk& c : firstMovi) {
            uint32_t flags = kKeyFrameFlag;
            if (c.stream < static_cast<int>(counts.size()) && layout->streams[c.stream].video) {
                const int64_t slot = videoChunks[c.stream]++;
                flags = c.size > 0 && (slot == 0 || inRanges(keyFrames, slot)) ? kKeyFrameFlag : 0;
            }
            std::memcpy(e, c.id, 4);
            put32(e + 4, flags);
            put32(e + 8, static_cast<uint32_t>(c.pos - (riffs[0].movi + 8)));
            put32(e + 12, c.size);
            e += 16;
        }
        if (!file.write(contentEnd, idx.data(), idx.size()))
            return fail("no room for the index");
        fileEnd = contentEnd + static_cast<int64_t>(idx.size());
    }

    // Each RIFF ends where the next begins; the last one with the file.
    for (std::size_t i = 0; i < riffs.size(); ++i) {
        const int64_t riffEnd = i + 1 < riffs.size() ? riffs[i + 1].start : fileEnd;
        if (!write32(file, riffs[i].start + 4, static_cast<uint32_t>(riffEnd - riffs[i].start - 8)))
            return fail("the file cannot be written");
    }
    std::vector<int64_t> lengths;
    for (std::size_t i = 0; i < counts.size(); ++i)
        lengths.push_back(layout->streams[i].video ? counts[i].chunks
                                                   : counts[i].bytes / layout->streams[i].blockAlign);
    writeCounts(file, *layout, lengths, riffs.size() > 1);
    return {};
}

std::string unfinishedMarkerPath(const std::string& aviPath) {
    const std::size_t slash = aviPath.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    return aviPath.substr(0, name) + "." + aviPath.substr(name) + kMarkerSuffix;
}

KeyFrameRanges readKeyFrames(const std::string& markerPath) {
    KeyFrameRanges ranges;
    FILE* f = std::fopen(markerPath.c_str(), "r");
    if (!f)
        return ranges;
    long long first = 0, last = 0;
    while (std::fscanf(f, "%lld %lld", &first, &last) == 2)
        if (first <= last && (ranges.empty() || first > ranges.back().second))
            ranges.emplace_back(first, last);
    std::fclose(f);
    return ranges;
}

std::vector<std::string> recoverRecordings(const std::string& folder) {
    std::vector<std::string> recovered;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return recovered;
    std::vector<std::string> markers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::size_t suffix = std::strlen(kMarkerSuffix);
        if (name.size() > suffix + 5 && name[0] == '.' &&
            name.compare(name.size() - suffix, suffix, kMarkerSuffix) == 0)
            markers.push_back(name);
    }
    ::closedir(dir);
    std::sort(markers.begin(), markers.end());
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string& marker : markers) {
        const std::string markerPath = base + marker;
        const std::string fileName = marker.substr(1, marker.size() - 1 - std::strlen(kMarkerSuffix));
        const int lock = ::open(markerPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock < 0)
            continue;
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            ::close(lock); // a program is writing it now
            continue;
        }
        const int fd = ::open((base + fileName).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                ::unlink(markerPath.c_str()); // the recording is gone
            ::close(lock);
            continue;
        }
        AviFile access(fd);
        const base::Error error = finishAvi(access, readKeyFrames(markerPath));
        if (!error) {
            // Gives back any room the recording kept on the disk beyond the file.
            if (::ftruncate(fd, access.size()) != 0)
                base::recordLog.warning("%s: the room kept beyond it stays\n", fileName.c_str());
            ::fsync(fd);
            base::recordLog.info("Recovered %s\n", fileName.c_str());
            recovered.push_back(fileName);
        } else {
            // Not a file this can finish: it is left as it is, and not tried again.
            base::recordLog.warning("%s was left unfinished and cannot be finished (%s)\n", fileName.c_str(),
                                    error.text.c_str());
        }
        ::unlink(markerPath.c_str());
        ::close(fd);
        ::close(lock);
    }
    return recovered;
}

} // namespace tavrin::media

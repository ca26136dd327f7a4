// SPDX-License-Identifier: GPL-2.0-or-later
#include "MediaTestSupport.h"

#include "device/ScreenLayout.h"
#include "display/FrameConversion.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/sim/SimulatedBoard.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavrin::mediatest {

std::string runCommand(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    std::array<char, 65536> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

const ProbedStream* ProbedFile::first(const std::string& type) const {
    for (const auto& s : streams)
        if (s.type == type)
            return &s;
    return nullptr;
}

ProbedFile probe(const std::string& path) {
    ProbedFile file;
    int status = 0;
    const std::string text =
        runCommand("ffprobe -v error -count_frames -show_entries "
                   "stream=codec_type,codec_name,width,height,nb_read_frames,nb_frames,duration,"
                   "sample_rate -of flat '" +
                       path + "' 2>/dev/null",
                   &status);
    if (status != 0)
        return file;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // streams.stream.0.codec_type="video"
        const auto eq = line.find('=');
        if (line.rfind("streams.stream.", 0) != 0 || eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        const auto dot = key.find('.', 15);
        const int index = std::atoi(key.substr(15, dot - 15).c_str());
        const std::string field = key.substr(dot + 1);
        if (static_cast<int>(file.streams.size()) <= index)
            file.streams.resize(index + 1);
        ProbedStream& s = file.streams[index];
        if (field == "codec_type")
            s.type = value;
        else if (field == "codec_name")
            s.codec = value;
        else if (field == "width")
            s.width = std::atoi(value.c_str());
        else if (field == "height")
            s.height = std::atoi(value.c_str());
        else if (field == "nb_read_frames")
            s.frames = std::atoll(value.c_str());
        else if (field == "nb_frames")
            s.declaredFrames = std::atoll(value.c_str());
        else if (field == "duration")
            s.duration = std::atof(value.c_str());
        else if (field == "sample_rate")
            s.sampleRate = std::atoi(value.c_str());
    }
    // PCM in AVI has no duration of its own: its length is its sample count.
    for (auto& s : file.streams)
        if (s.type == "audio" && s.duration == 0 && s.sampleRate > 0)
            s.duration = static_cast<double>(s.declaredFrames) / s.sampleRate;
    file.ok = true;
    return file;
}

std::vector<std::vector<uint8_t>> decodeVideo(const std::string& path, int width, int height) {
    const std::string raw =
        runCommand("ffmpeg -v error -i '" + path + "' -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 3;
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes)
        frames.emplace_back(raw.begin() + at, raw.begin() + at + frameBytes);
    return frames;
}

std::vector<int16_t> decodeAudioMono(const std::string& path) {
    const std::string raw =
        runCommand("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -ar 48000 -f s16le - 2>/dev/null");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

double tonePower(const std::vector<int16_t>& samples, std::size_t begin, std::size_t end, double rate,
                 double frequency) {
    const double w = 2.0 * M_PI * frequency / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = begin; i < end && i < samples.size(); ++i) {
        const double s0 = samples[i] / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

void paintFrame(device::CaptureFrame& frame, int layoutId, uint64_t n) {
    if (!frame.data)
        frame.data.reset(new uint8_t[device::kFrameBufferBytes]());
    sim::SimulatedBoard::renderPicture(n, frame.data.get());
    display::convertFrame(frame, layoutId);
}

void paintNoise(device::CaptureFrame& frame, int layoutId, uint64_t n) {
    const device::ScreenLayout& layout = device::screenLayouts[layoutId];
    frame.layout = layout;
    frame.image.resize(static_cast<std::size_t>(layout.width) * layout.height * 4);
    uint64_t x = 0x9E3779B97F4A7C15ull * (n + 1);
    for (auto& byte : frame.image) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        byte = static_cast<uint8_t>(x);
    }
}

std::vector<uint8_t> expectedArea(int layoutId, uint64_t n, int width, int height, int offset) {
    device::CaptureFrame frame;
    paintFrame(frame, layoutId, n);
    const int stride = frame.layout.width;
    std::vector<uint8_t> out(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t src = (static_cast<std::size_t>(y) * stride + offset + x) * 4;
            const std::size_t dst = (static_cast<std::size_t>(y) * width + x) * 3;
            out[dst] = frame.image[src];
            out[dst + 1] = frame.image[src + 1];
            out[dst + 2] = frame.image[src + 2];
        }
    return out;
}

std::vector<uint64_t> feedFrames(device::FramePool& pool, record::RecordingControl& recorder, int layoutId,
                                 int fps, std::chrono::milliseconds duration, uint64_t firstNumber,
                                 Painter paint) {
    using clock = std::chrono::steady_clock;
    std::vector<uint64_t> fed;
    const auto start = clock::now();
    const auto period = std::chrono::nanoseconds(1000000000LL / fps);
    for (uint64_t i = 0;; ++i) {
        const auto due = start + i * period;
        if (due - start >= duration)
            break;
        std::this_thread::sleep_until(due);
        const device::FrameRef frame = pool.take(std::chrono::milliseconds(500));
        if (!frame)
            continue; // every frame is held: the recording has fallen behind
        paint(*frame, layoutId, firstNumber + i);
        if (record::ITavrinCaptureApp* app = recorder.recorderApp())
            app->putFrame(frame);
        fed.push_back(firstNumber + i);
    }
    return fed;
}

TonePlayer::TonePlayer(double frequency, double seconds, const std::string& folder) {
    const std::string wav = folder + "tone.wav";
    const int rate = 48000;
    const uint32_t samples = static_cast<uint32_t>(seconds * rate);
    std::ofstream out(wav, std::ios::binary);
    auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    put32(36 + samples * 2);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    out.write("data", 4);
    put32(samples * 2);
    for (uint32_t i = 0; i < samples; ++i)
        put16(static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(2 * M_PI * frequency * i / rate))));
    out.close();
    std::string path = wav;
    char arg0[] = "paplay";
    char arg1[] = "--device=tavrin_null";
    char* argv[] = {arg0, arg1, path.data(), nullptr};
    if (::posix_spawnp(&pid_, "paplay", nullptr, nullptr, argv, environ) != 0)
        pid_ = -1;
}

TonePlayer::~TonePlayer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool soundServerAvailable() {
    for (const auto& d : media::FfmpegPlatform::listAudioDevices())
        if (d.inputFormat == "pulse")
            return true;
    return false;
}

uint32_t le32(const void* at) {
    const auto* p = static_cast<const unsigned char*>(at);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int64_t AviLayout::videoChunks() const {
    return std::count_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.id.substr(2) == "dc"; });
}

int64_t AviLayout::emptyVideoChunks() const {
    return std::count_if(chunks.begin(), chunks.end(),
                         [](const Chunk& c) { return c.id.substr(2) == "dc" && c.size == 0; });
}

AviLayout readAviLayout(const std::string& path) {
    AviLayout layout;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const int64_t size = static_cast<int64_t>(bytes.size());
    layout.fileSize = size;
    if (size < 12 || bytes.compare(0, 4, "RIFF") != 0)
        return layout;
    layout.riffEnd = 8 + static_cast<int64_t>(le32(p + 4));
    if (size >= 36 && bytes.compare(24, 4, "avih") == 0) // RIFF AVI, LIST hdrl, then avih
        layout.microSecPerFrame = le32(p + 32);
    int64_t pos = 12;
    while (pos + 12 <= size &&
           !(bytes.compare(pos, 4, "LIST") == 0 && bytes.compare(pos + 8, 4, "movi") == 0))
        pos += 8 + ((le32(p + pos + 4) + 1) & ~1u);
    if (pos + 12 > size)
        return layout;
    layout.moviList = pos;
    layout.moviEnd = pos + 8 + static_cast<int64_t>(le32(p + pos + 4));
    pos += 12;
    while (pos + 8 <= size) {
        const uint32_t n = le32(p + pos + 4);
        const std::string id = bytes.substr(pos, 4);
        if (pos + 8 + n > size)
            break;
        if (id == "idx1") {
            layout.indexEntries = n / 16;
            for (uint32_t e = 0; e < n / 16; ++e) {
                const auto* entry = p + pos + 8 + e * 16;
                if (entry[2] == 'd' && (le32(entry + 4) & 0x10))
                    ++layout.keyEntries;
            }
            break;
        }
        pos += 8 + ((n + 1) & ~1u);
        if (id != "JUNK" && id.rfind("ix", 0) != 0) { // the standard indexes are no media chunks
            layout.chunks.push_back({id, n});
            layout.chunksEnd = pos;
        }
    }
    layout.ok = true;
    return layout;
}

} // namespace tavrin::mediatest

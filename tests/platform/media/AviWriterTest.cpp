// SPDX-License-Identifier: GPL-2.0-or-later
#include "MediaTestSupport.h"

#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "platform/media/AviFile.h"
#include "platform/media/FfmpegPlatform.h"
#include "record/Recorder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::mediatest;
using namespace std::chrono_literals;

namespace {

class CancellingDialogs : public record::RecordingDialogs {
  public:
    bool showVideoCodecDialog() override {
        ++shown;
        return false;
    }
    int shown = 0;
};

struct Rig {
    explicit Rig(media::FfmpegPlatform::Options options = {}) : platform(nullptr, options) {
        EXPECT_TRUE(pool.setup());
        settings.outputFolder.assign(dir.folder());
        settings.videoCodec.assign("FFV1 (lossless)");
        settings.audioSource.assign("(no sound)");
    }
    TempDir dir;
    device::FramePool pool;
    base::Settings settings = base::Settings::defaults("");
    media::FfmpegPlatform platform;
    record::Recorder recorder{platform, settings};
};

// Feeds frames until the recording reports that it stopped by itself.
bool feedUntilStopped(Rig& s, std::chrono::milliseconds limit) {
    uint64_t n = 0;
    const auto feed = [&] {
        feedFrames(s.pool, s.recorder, device::kDualScreenLayout, 60, 100ms, n, paintNoise);
        n += 6;
        s.recorder.updateRecordingStatus();
    };
    return tavrin::testing::eventually([&] { return !s.recorder.recorderApp(); }, limit, feed);
}

TEST(AviWriter, FullDiskStopsTheRecordingSaysSoAndKeepsAReadableFile) {
    tavrin::testing::DiagnosticCapture diag;
    media::FfmpegPlatform::Options options;
    options.diskLimit = 3 * 1024 * 1024; // a couple of dozen FFV1 frames
    Rig s(options);
    ASSERT_TRUE(s.recorder.startRecording("00010.avi"));
    ASSERT_TRUE(feedUntilStopped(s, 20s)) << "the recording should end when the disk is full";
    const std::string status = s.recorder.updateRecordingStatus();
    EXPECT_EQ(status,
              s.dir.folder() +
                  "00010.avi\nStopped. The disk is full: free some space or choose another output folder.");
    EXPECT_EQ(s.pool.queue().count(), 12) << "no frame is kept by the stopped recording";

    struct stat st {};
    ASSERT_EQ(::stat((s.dir.folder() + "00010.avi").c_str(), &st), 0);
    EXPECT_LE(st.st_size, 3 * 1024 * 1024);
    const ProbedFile file = probe(s.dir.folder() + "00010.avi");
    ASSERT_TRUE(file.ok) << "ffprobe reads what was written";
    ASSERT_NE(file.first("video"), nullptr);
    EXPECT_GE(file.first("video")->frames, 5) << "the frames before the disk filled are there";
    EXPECT_GE(decodeVideo(s.dir.folder() + "00010.avi", 256, 384).size(),
              static_cast<std::size_t>(file.first("video")->frames) - 1)
        << "every whole frame in the file decodes";
    // The headers describe exactly what is on the disk: the RIFF ends with the file, and
    // the frame count is that of the frames there.
    const std::string bytes = runCommand("head -c 8 '" + s.dir.folder() + "00010.avi' | od -An -tu4");
    EXPECT_EQ(std::stoll(bytes.substr(bytes.find_last_of(' ') + 1)) + 8, st.st_size) << bytes;
    const std::string lastSlot =
        runCommand("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" +
                   s.dir.folder() + "00010.avi' | tail -1");
    EXPECT_EQ(file.first("video")->declaredFrames, std::stoll(lastSlot) + 1)
        << "slots up to the last frame there";
    EXPECT_EQ(runCommand("ffmpeg -v error -i '" + s.dir.folder() + "00010.avi' -f null - 2>&1"), "");
    const AviLayout layout = readAviLayout(s.dir.folder() + "00010.avi");
    ASSERT_TRUE(layout.ok);
    EXPECT_EQ(layout.indexEntries, static_cast<int64_t>(layout.chunks.size()))
        << "the index fits in the room kept";
    EXPECT_EQ(layout.riffEnd, layout.fileSize);
    EXPECT_NE(::access((s.dir.folder() + ".00010.avi.unfinished").c_str(), F_OK), 0)
        << "the file is finished";
}

TEST(AviWriter, NoSlotIsLeftEmptyUnlessCounted) {
    for (int32_t fps : {30, 60}) {
        Rig s;
        s.settings.recordFps = fps;
        ASSERT_TRUE(s.recorder.startRecording("00018.avi"));
        // A board that pauses now and then: slots of the grid go without a frame.
        uint64_t n = 0;
        for (int part = 0; part < 3; ++part) {
            n += feedFrames(s.pool, s.recorder, device::kDualScreenLayout, 60, 500ms, n).size();
            std::this_thread::sleep_for(200ms);
        }
        int64_t skipped = -1;
        s.recorder.recorderApp()->getStatistic(record::STAT_SKIPPED, &skipped);
        s.recorder.stopRecording();
        const AviLayout layout = readAviLayout(s.dir.folder() + "00018.avi");
        ASSERT_TRUE(layout.ok);
        ASSERT_GT(layout.videoChunks(), fps);
        EXPECT_GT(skipped, 0) << fps << " frames a second";
        EXPECT_EQ(layout.emptyVideoChunks(), skipped) << fps << " frames a second";
        const ProbedFile file = probe(s.dir.folder() + "00018.avi");
        ASSERT_NE(file.first("video"), nullptr);
        EXPECT_EQ(file.first("video")->frames, layout.videoChunks() - skipped)
            << "a picture in every other chunk";
    }
}

// The recording of a process that gets killed: run by KilledRecordingStillHasItsLength
// in a child process, never on its own.
TEST(AviWriter, DISABLED_RecordUntilKilled) {
    const char* folder = std::getenv("TAVRIN_KILL_TEST_DIR");
    ASSERT_NE(folder, nullptr);
    Rig s;
    s.settings.outputFolder.assign(folder);
    s.settings.videoCodec.assign("Microsoft Video 1"); // frames that depend on earlier ones
    s.settings.recordFps = 30;
    if (std::getenv("TAVRIN_KILL_TEST_SOUND"))
        s.settings.audioSource.assign(""); // the first sound input: the test sink's monitor
    ASSERT_TRUE(s.recorder.startRecording("killed.avi"));
    record::IMediaSeeking* mux = s.recorder.graph()->sink().get();
    ASSERT_NE(mux, nullptr);
    for (uint64_t n = 0; n < 60 * 120; n += 6) {
        feedFrames(s.pool, s.recorder, device::kDualScreenLayout, 60, 100ms, n);
        // The end of the picture written to the file so far (a busy machine may hold
        // frames back in the encoder's queue).
        int64_t written = 0;
        mux->SetTimeFormat(record::TIME_FORMAT_MEDIA_TIME);
        mux->GetCurrentPosition(&written);
        std::printf("@%lld\n", static_cast<long long>(written));
        std::fflush(stdout);
    }
}

// Records in a child process and kills it outright once `seconds` of picture are in
// the file; returns the seconds it said it had written.
double recordAndKill(const TempDir& dir, double seconds, bool sound) {
    int out[2];
    if (::pipe(out) != 0)
        return 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::setenv("TAVRIN_KILL_TEST_DIR", dir.folder().c_str(), 1);
        if (sound)
            ::setenv("TAVRIN_KILL_TEST_SOUND", "1", 1);
        ::execl("/proc/self/exe", "media_tests", "--gtest_also_run_disabled_tests",
                "--gtest_filter=AviWriter.DISABLED_RecordUntilKilled", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* lines = ::fdopen(out[0], "r");
    char line[256];
    double recorded = 0;
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (recorded < seconds && std::chrono::steady_clock::now() < giveUp &&
           std::fgets(line, sizeof line, lines))
        if (line[0] == '@')
            recorded = std::atof(line + 1) / 1e7;
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    std::fclose(lines);
    return recorded;
}

TEST(AviWriter, KilledRecordingStillHasItsLength) {
    const bool sound = soundServerAvailable();
    struct Kill {
        const char* name;
        double at;
    };
    for (const Kill& kill : {Kill{"killed in its first second", 0.5}, Kill{"killed after seconds", 7.0}}) {
        TempDir dir;
        const double recorded = recordAndKill(dir, kill.at, sound);
        ASSERT_GE(recorded, kill.at) << kill.name << ": the child did not record";

        const std::string path = dir.folder() + "killed.avi";
        const ProbedFile file = probe(path);
        ASSERT_TRUE(file.ok) << kill.name;
        ASSERT_NE(file.first("video"), nullptr) << kill.name;
        // The headers are brought up to date with the first picture, then every 200 ms and
        // later every second; what was written after the last update may be missing from them.
        EXPECT_GE(file.first("video")->declaredFrames, 1) << kill.name << ": readers see a length";
        EXPECT_GE(file.first("video")->duration, recorded - (kill.at < 1 ? 0.5 : 2.0)) << kill.name;
        EXPECT_LE(file.first("video")->duration, recorded + 0.5) << kill.name;
        EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "")
            << kill.name << ": every frame up to the cut decodes";
        if (!runCommand("command -v mediainfo").empty()) {
            EXPECT_GT(std::atof(runCommand("mediainfo --Inform='Video;%Duration%' '" + path + "'").c_str()),
                      0)
                << kill.name << ": MediaInfo sees a length";
        }
        // The sizes of that update: the movi list lies within the RIFF, which lies within the file.
        const AviLayout killed = readAviLayout(path);
        ASSERT_TRUE(killed.ok) << kill.name;
        EXPECT_EQ(killed.indexEntries, -1) << kill.name << ": no index yet";
        EXPECT_LE(killed.moviEnd, killed.riffEnd) << kill.name;
        EXPECT_LE(killed.riffEnd, killed.fileSize) << kill.name;
        EXPECT_GT(killed.moviEnd, killed.moviList + 12) << kill.name;

        // The next start of the program finishes it: an index, and headers that say what it holds.
        const std::string marker = dir.folder() + ".killed.avi.unfinished";
        ASSERT_EQ(::access(marker.c_str(), F_OK), 0)
            << kill.name << ": the recording is known to be unfinished";
        Rig next;
        next.settings.outputFolder.assign(dir.folder());
        EXPECT_EQ(next.recorder.recoverRecordings(), "Recovered killed.avi") << kill.name;
        EXPECT_NE(::access(marker.c_str(), F_OK), 0) << kill.name;
        EXPECT_EQ(next.recorder.recoverRecordings(), "") << kill.name << ": once";
        const AviLayout finished = readAviLayout(path);
        ASSERT_TRUE(finished.ok) << kill.name;
        EXPECT_GE(finished.fileSize, killed.fileSize) << kill.name << ": nothing is cut off";
        EXPECT_EQ(finished.riffEnd, finished.fileSize) << kill.name;
        EXPECT_EQ(finished.indexEntries, static_cast<int64_t>(finished.chunks.size()))
            << kill.name << ": every chunk indexed";
        // The key frames noted while recording are flagged (Microsoft Video 1 makes one every
        // 25 frames), the others not.
        EXPECT_GE(finished.keyEntries, kill.at < 1 ? 1 : 2) << kill.name;
        EXPECT_LE(finished.keyEntries, finished.videoChunks() / 20 + 1) << kill.name;
        const ProbedFile recovered = probe(path);
        ASSERT_TRUE(recovered.ok) << kill.name;
        const ProbedStream* video = recovered.first("video");
        ASSERT_NE(video, nullptr) << kill.name;
        const double held = static_cast<double>(finished.videoChunks()) / 30.0;
        EXPECT_GE(held, recorded) << kill.name;
        EXPECT_NEAR(video->duration, held, 0.1) << kill.name;
        EXPECT_EQ(video->declaredFrames, finished.videoChunks()) << kill.name;
        EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "") << kill.name;
        if (const ProbedStream* audio = recovered.first("audio")) {
            EXPECT_LE(audio->duration, video->duration + 1e-3)
                << kill.name << ": the sound ends with the picture";
            EXPECT_GT(audio->duration, video->duration - 1.0 / 30) << kill.name;
            EXPECT_EQ(static_cast<int64_t>(decodeAudioMono(path).size()), audio->declaredFrames)
                << kill.name << ": the header counts the samples there";
        } else {
            EXPECT_FALSE(sound) << kill.name << ": the sound stream is kept";
        }
    }
}

// Files cut at any point (as a crash leaves them) are finished without losing a byte.
TEST(AviWriter, FinishingACutFileKeepsEverythingAndIndexesTheWholeChunks) {
    Rig s;
    s.settings.recordFps = 30;
    ASSERT_TRUE(s.recorder.startRecording("00017.avi"));
    feedFrames(s.pool, s.recorder, device::kDualScreenLayout, 60, 1000ms);
    s.recorder.stopRecording();
    const std::string source = s.dir.folder() + "00017.avi";
    const AviLayout original = readAviLayout(source);
    ASSERT_TRUE(original.ok);
    ASSERT_GT(original.chunks.size(), 20u);
    ASSERT_GT(original.indexEntries, 0);
    const int64_t moviEnd = original.chunksEnd; // the indexes follow
    const int64_t lastChunk = moviEnd - 8 - ((original.chunks.back().size + 1) & ~1u);
    struct Cut {
        const char* name;
        int64_t at;
    };
    const Cut cuts[] = {{"after the last chunk", moviEnd},
                        {"in a chunk's data", lastChunk + 8 + original.chunks.back().size / 2},
                        {"two bytes short of a chunk's end", lastChunk + 8 + original.chunks.back().size - 2},
                        {"in a chunk's header", lastChunk + 3},
                        {"one byte of a chunk's header", lastChunk + 1}};
    for (const Cut& cut : cuts) {
        const std::string path = s.dir.folder() + "cut.avi";
        runCommand("head -c " + std::to_string(cut.at) + " '" + source + "' > '" + path + "'; touch '" +
                   s.dir.folder() + ".cut.avi.unfinished'");
        EXPECT_EQ(s.recorder.recoverRecordings(), "Recovered cut.avi") << cut.name;
        const AviLayout finished = readAviLayout(path);
        ASSERT_TRUE(finished.ok) << cut.name;
        EXPECT_GE(finished.fileSize, cut.at) << cut.name;
        EXPECT_EQ(finished.riffEnd, finished.fileSize) << cut.name;
        const std::size_t whole = cut.at == moviEnd ? original.chunks.size() : original.chunks.size() - 1;
        EXPECT_EQ(finished.chunks.size(), whole) << cut.name;
        EXPECT_EQ(finished.indexEntries, static_cast<int64_t>(whole)) << cut.name;
        const ProbedFile file = probe(path);
        ASSERT_TRUE(file.ok) << cut.name;
        ASSERT_NE(file.first("video"), nullptr);
        EXPECT_EQ(file.first("video")->declaredFrames, static_cast<int64_t>(whole)) << cut.name;
        EXPECT_EQ(file.first("video")->frames + original.emptyVideoChunks(), static_cast<int64_t>(whole))
            << cut.name << ": every picture decodes";
        EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "") << cut.name;
    }
}

// The file's bytes, and where each video chunk ends, walked as a reader walks them
// (across the RIFFs, over the indexes).
struct Walked {
    std::string bytes;
    std::vector<int64_t> riffs;
    std::vector<int64_t> videoEnds;

    uint32_t u32(std::size_t at) const { return le32(bytes.data() + at); }
    uint64_t u64(std::size_t at) const { return u32(at) | static_cast<uint64_t>(u32(at + 4)) << 32; }
};
Walked walk(const std::string& path) {
    Walked w;
    std::ifstream in(path, std::ios::binary);
    w.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    for (std::size_t pos = 0; pos + 8 <= w.bytes.size(); pos += 8 + w.u32(pos + 4))
        w.riffs.push_back(static_cast<int64_t>(pos));
    std::size_t pos = w.bytes.find("LIST", 12);
    while (pos != std::string::npos && w.bytes.compare(pos + 8, 4, "movi") != 0)
        pos = w.bytes.find("LIST", pos + 4);
    for (pos += 12; pos + 8 <= w.bytes.size();) {
        if (w.bytes.compare(pos, 4, "RIFF") == 0) {
            pos += 24;
            continue;
        }
        const std::size_t next = pos + 8 + ((w.u32(pos + 4) + 1) & ~1u);
        if (w.bytes.compare(pos + 2, 2, "dc") == 0)
            w.videoEnds.push_back(static_cast<int64_t>(next));
        pos = next;
    }
    return w;
}

// Every entry of every standard index points at the data of a chunk of its stream and
// size, and every super index entry at a standard index: what a reader that seeks goes by.
void expectIndexesPointAtTheirChunks(const Walked& w, const std::string& what) {
    int64_t entries = 0;
    for (std::size_t ix = w.bytes.find("ix0"); ix != std::string::npos; ix = w.bytes.find("ix0", ix + 4)) {
        if (w.bytes.compare(ix + 16, 2, w.bytes, ix + 2, 2) != 0)
            continue; // not an index: its chunk id names its own stream
        const uint32_t count = w.u32(ix + 12);
        const uint64_t base = w.u64(ix + 20);
        for (uint32_t e = 0; e < count; ++e) {
            const uint64_t data = base + w.u32(ix + 32 + e * 8);
            const uint32_t size = w.u32(ix + 36 + e * 8) & 0x7FFFFFFFu;
            ASSERT_LE(data + size, w.bytes.size()) << what;
            ASSERT_EQ(w.bytes.compare(data - 8, 4, w.bytes, ix + 16, 4), 0)
                << what << ": entry " << e << " of the index at " << ix
                << " points at no chunk of its stream";
            ASSERT_EQ(w.u32(data - 4), size) << what << ": entry " << e << " of the index at " << ix;
            ++entries;
        }
    }
    EXPECT_GT(entries, 0) << what;
    // The first RIFF's idx1 counts from the movi list's type.
    const std::size_t movi = w.bytes.find("movi");
    const std::size_t idx1 = w.bytes.find("idx1", movi);
    if (idx1 != std::string::npos && movi != std::string::npos)
        for (std::size_t e = idx1 + 8; e + 16 <= idx1 + 8 + w.u32(idx1 + 4); e += 16) {
            const std::size_t chunk = movi + w.u32(e + 8);
            ASSERT_EQ(w.bytes.compare(chunk, 4, w.bytes, e, 4), 0) << what << ": idx1 entry at " << e;
            ASSERT_EQ(w.u32(chunk + 4), w.u32(e + 12)) << what << ": idx1 entry at " << e;
        }
    for (std::size_t indx = w.bytes.find("indx"); indx != std::string::npos && indx < 4096;
         indx = w.bytes.find("indx", indx + 4))
        for (uint32_t e = 0; e < w.u32(indx + 12); ++e)
            EXPECT_EQ(w.bytes.compare(w.u64(indx + 32 + e * 16), 2, "ix"), 0)
                << what << ": super index entry " << e;
}

// Frames that decode and the frames the header counts: the same, each picture n
// filled with n (rawvideo, so a chunk taken from the wrong place shows).
void expectWholeAndInOrder(const std::string& path, int side, int64_t frames, const std::string& what) {
    const ProbedFile file = probe(path);
    ASSERT_TRUE(file.ok) << what;
    ASSERT_NE(file.first("video"), nullptr) << what;
    EXPECT_EQ(file.first("video")->declaredFrames, frames) << what;
    const auto decoded = decodeVideo(path, side, side);
    ASSERT_EQ(static_cast<int64_t>(decoded.size()), frames) << what;
    for (std::size_t n = 0; n < decoded.size(); ++n)
        ASSERT_EQ(decoded[n][0], static_cast<uint8_t>(n)) << what << ": picture " << n;
    EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "") << what;
}

// The header's view of square 24-bit pictures at 30 a second, and of 48 kHz 16-bit sound.
media::AviStreamFormat rawPicture(int side) {
    media::AviStreamFormat video;
    video.video = true;
    video.rate = 30;
    video.width = video.height = side;
    record::BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = bih.biHeight = side;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    video.format.assign(reinterpret_cast<uint8_t*>(&bih), reinterpret_cast<uint8_t*>(&bih) + sizeof bih);
    return video;
}
media::AviStreamFormat pcmSound(uint16_t channels) {
    media::AviStreamFormat sound;
    sound.rate = 48000;
    sound.sampleSize = 2u * channels;
    const record::WAVEFORMATEX wfx{
        1, channels, 48000, 96000u * channels, static_cast<uint16_t>(2 * channels), 16, 0};
    sound.format.assign(reinterpret_cast<const uint8_t*>(&wfx), reinterpret_cast<const uint8_t*>(&wfx) + 18);
    return sound;
}

// Small RIFFs make an OpenDML file of many of them quickly: each reader's frame comes
// through the indexes of its RIFF, in the whole file and in one cut anywhere and then
// finished as the program's next start finishes it.
TEST(AviFile, ManyRiffsAreIndexedAndACutAnywhereIsFinishedToWhatItHolds) {
    constexpr int kSide = 16;
    constexpr int kFrames = 300;
    const media::AviStreamFormat video = rawPicture(kSide);
    const media::AviStreamFormat sound = pcmSound(1);

    TempDir dir;
    const std::string path = dir.folder() + "riffs.avi";
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        media::AviFile file(fd, -1, 64 * 1024);
        ASSERT_TRUE(file.writeHeader({video, sound}, 33333));
        std::vector<uint8_t> picture(kSide * kSide * 3), tone(1600 * 2, 0x11);
        for (int n = 0; n < kFrames; ++n) {
            std::fill(picture.begin(), picture.end(), static_cast<uint8_t>(n));
            ASSERT_TRUE(
                file.writeChunk(0, picture.data(), static_cast<uint32_t>(picture.size()), n % 10 == 0));
            ASSERT_TRUE(file.writeChunk(1, tone.data(), static_cast<uint32_t>(tone.size()), true));
            if (n % 30 == 0)
                file.updateHeaders();
        }
        ASSERT_TRUE(file.closeRiff(true));
        ::close(fd);
    }
    const Walked whole = walk(path);
    ASSERT_GT(whole.riffs.size(), 10u);
    const auto lastRiff = static_cast<std::size_t>(whole.riffs.back());
    EXPECT_EQ(lastRiff + 8 + whole.u32(lastRiff + 4), whole.bytes.size())
        << "the last RIFF ends with the file";
    ASSERT_NO_FATAL_FAILURE(expectWholeAndInOrder(path, kSide, kFrames, "the whole file"));
    ASSERT_NO_FATAL_FAILURE(expectIndexesPointAtTheirChunks(whole, "the whole file"));
    const ProbedFile file = probe(path);
    ASSERT_NE(file.first("audio"), nullptr);
    EXPECT_EQ(file.first("audio")->declaredFrames, kFrames * 1600);

    const int64_t third = whole.riffs[3];
    const auto ix = static_cast<int64_t>(whole.bytes.find("ix01", static_cast<std::size_t>(third)));
    struct Cut {
        const char* name;
        int64_t at;
    };
    const Cut cuts[] = {{"in the first RIFF", whole.riffs[1] / 2},
                        {"just after a RIFF's header", third + 24},
                        {"in a RIFF's chunks", third + 24 + 3000},
                        {"in a RIFF's closing index", ix + 20},
                        {"inside a RIFF's header", whole.riffs[4] + 10}};
    for (const Cut& cut : cuts) {
        const std::string cutPath = dir.folder() + "cut.avi";
        std::ofstream(cutPath, std::ios::binary) << whole.bytes.substr(0, static_cast<std::size_t>(cut.at));
        std::ofstream(dir.folder() + ".cut.avi.unfinished") << "0 0\n10 10\n";
        ASSERT_EQ(media::recoverRecordings(dir.folder()), std::vector<std::string>{"cut.avi"}) << cut.name;
        const int64_t held = std::count_if(whole.videoEnds.begin(), whole.videoEnds.end(),
                                           [&](int64_t end) { return end <= cut.at; });
        ASSERT_NO_FATAL_FAILURE(expectWholeAndInOrder(cutPath, kSide, held, cut.name));
        const Walked finished = walk(cutPath);
        EXPECT_GE(finished.bytes.size(), static_cast<std::size_t>(cut.at)) << cut.name << ": nothing cut off";
        ASSERT_NO_FATAL_FAILURE(expectIndexesPointAtTheirChunks(finished, cut.name));
        const ProbedFile recovered = probe(cutPath);
        const ProbedStream* heard = recovered.first("audio");
        ASSERT_NE(heard, nullptr) << cut.name;
        EXPECT_EQ(heard->declaredFrames, static_cast<int64_t>(decodeAudioMono(cutPath).size()))
            << cut.name << ": the header counts the sound's samples";
    }
}

// A file whose writer was killed: its picture and sound end apart, by what was still on
// its way. Recovery ends them together as the writer's stop does: the shorter made up
// to the longer (silence, or the last picture held), the sound within the last frame.
TEST(AviFile, RecoveryEndsThePictureAndTheSoundTogether) {
    constexpr int kSide = 16;
    struct Case {
        const char* name;
        int frames;      // at 30 a second
        int64_t samples; // at 48 kHz; in chunks of 1100, which frames do not line up with
        int64_t frames2; // after recovery
        int64_t samples2;
    };
    const Case cases[] = {
        {"the sound 42 ms short", 600, 600 * 1600 - 2016, 600, 600 * 1600},
        {"the picture half a second short", 300, 300 * 1600 + 24100, 316, 300 * 1600 + 24100},
        {"no sound yet", 15, 0, 15, 15 * 1600},
        {"both of one length", 90, 90 * 1600, 90, 90 * 1600},
    };
    const media::AviStreamFormat video = rawPicture(kSide);
    const media::AviStreamFormat sound = pcmSound(2);
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.folder() + "killed.avi";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        {
            media::AviFile file(fd);
            ASSERT_TRUE(file.writeHeader({video, sound}, 33333));
            std::vector<uint8_t> picture(kSide * kSide * 3), tone(1100 * 4, 0x21);
            int64_t heard = 0;
            const auto hear = [&](int64_t until) {
                for (; heard < std::min(until, c.samples); heard += 1100) {
                    const auto n = static_cast<uint32_t>(std::min<int64_t>(1100, c.samples - heard));
                    ASSERT_TRUE(file.writeChunk(1, tone.data(), n * 4, true));
                }
            };
            for (int n = 0; n < c.frames; ++n) {
                std::fill(picture.begin(), picture.end(), static_cast<uint8_t>(n));
                ASSERT_TRUE(
                    file.writeChunk(0, picture.data(), static_cast<uint32_t>(picture.size()), n == 0));
                hear(int64_t{n + 1} * 1600);
            }
            hear(c.samples);
            file.updateHeaders(); // as the writer left it
        }
        ::close(fd);
        std::ofstream(dir.folder() + ".killed.avi.unfinished") << "0 0\n";
        ASSERT_EQ(media::recoverRecordings(dir.folder()), std::vector<std::string>{"killed.avi"}) << c.name;

        const ProbedFile file = probe(path);
        ASSERT_TRUE(file.ok) << c.name;
        ASSERT_NE(file.first("audio"), nullptr) << c.name;
        ASSERT_NE(file.first("video"), nullptr) << c.name;
        EXPECT_EQ(file.first("audio")->declaredFrames, c.samples2) << c.name;
        EXPECT_EQ(static_cast<int64_t>(decodeAudioMono(path).size()), c.samples2)
            << c.name << ": the sound there";
        EXPECT_EQ(file.first("video")->declaredFrames, c.frames2) << c.name;
        EXPECT_EQ(file.first("video")->frames, c.frames) << c.name << ": every picture, none lost";
        const AviLayout layout = readAviLayout(path);
        EXPECT_EQ(layout.emptyVideoChunks(), c.frames2 - c.frames) << c.name << ": the last picture held";
        EXPECT_EQ(layout.indexEntries, static_cast<int64_t>(layout.chunks.size())) << c.name;
        ASSERT_NO_FATAL_FAILURE(expectIndexesPointAtTheirChunks(walk(path), c.name));
        EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "") << c.name;
    }
}

// A recording the earlier, libavformat-based writer left unfinished (its indexes still
// padding) is finished the same way.
TEST(AviFile, AFileOfTheEarlierWriterIsFinishedToo) {
    TempDir dir;
    const std::string source = dir.folder() + "lavf.avi";
    runCommand("ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=30 -f lavfi -i sine=r=48000 -t 3 "
               "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -y '" +
               source + "' 2>&1");
    const AviLayout original = readAviLayout(source);
    ASSERT_TRUE(original.ok) << "ffmpeg made no file";
    const std::string path = dir.folder() + "old.avi";
    runCommand("head -c " + std::to_string(original.chunksEnd * 2 / 3) + " '" + source + "' > '" + path +
               "'; touch '" + dir.folder() + ".old.avi.unfinished'");
    ASSERT_EQ(media::recoverRecordings(dir.folder()), std::vector<std::string>{"old.avi"});
    const AviLayout finished = readAviLayout(path);
    ASSERT_TRUE(finished.ok);
    EXPECT_EQ(finished.riffEnd, finished.fileSize);
    EXPECT_EQ(finished.indexEntries, static_cast<int64_t>(finished.chunks.size()));
    const ProbedFile file = probe(path);
    ASSERT_TRUE(file.ok);
    ASSERT_NE(file.first("video"), nullptr);
    EXPECT_GT(file.first("video")->frames, 30);
    // Every picture there, and the last one held while the sound that was ahead of it ends.
    EXPECT_EQ(file.first("video")->frames + finished.emptyVideoChunks(), finished.videoChunks());
    EXPECT_LE(finished.emptyVideoChunks(), 2);
    EXPECT_EQ(file.first("video")->declaredFrames, finished.videoChunks());
    ASSERT_NE(file.first("audio"), nullptr);
    EXPECT_NEAR(file.first("audio")->duration, file.first("video")->duration, 1.0 / 30);
    EXPECT_EQ(runCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
}

TEST(AviWriter, RealFullDiskOnASmallFilesystem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.folder().c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    {
        Rig s;
        s.settings.outputFolder.assign(mountPoint.folder());
        ASSERT_TRUE(s.recorder.startRecording("00011.avi"));
        ASSERT_TRUE(feedUntilStopped(s, 20s));
        EXPECT_EQ(
            s.recorder.updateRecordingStatus(),
            mountPoint.folder() +
                "00011.avi\nStopped. The disk is full: free some space or choose another output folder.");
        const ProbedFile file = probe(mountPoint.folder() + "00011.avi");
        EXPECT_TRUE(file.ok);
        ASSERT_NE(file.first("video"), nullptr);
        EXPECT_GT(file.first("video")->frames, 0);
        const AviLayout layout = readAviLayout(mountPoint.folder() + "00011.avi");
        EXPECT_EQ(layout.indexEntries, static_cast<int64_t>(layout.chunks.size()))
            << "the room kept holds the index";
        EXPECT_EQ(layout.riffEnd, layout.fileSize);

        // The next click, the disk still full: the header may fit, no picture does.
        if (s.recorder.startRecording("00012.avi")) {
            ASSERT_TRUE(feedUntilStopped(s, 20s));
        }
        EXPECT_EQ(
            s.recorder.updateRecordingStatus(),
            mountPoint.folder() +
                "00012.avi\nStopped. The disk is full: free some space or choose another output folder.");
        EXPECT_NE(::access((mountPoint.folder() + "00012.avi").c_str(), F_OK), 0)
            << "a recording of no picture leaves no file";
        EXPECT_NE(::access((mountPoint.folder() + ".00012.avi.unfinished").c_str(), F_OK), 0);
    }
    ::umount(mountPoint.folder().c_str());
}

TEST(AviWriter, FolderThatCannotTakeTheFileFailsTheStartWithAReason) {
    Rig s;
    s.settings.outputFolder.assign(s.dir.folder() + "no-such-folder/");
    EXPECT_FALSE(s.recorder.startRecording("00012.avi"));
    EXPECT_EQ(s.recorder.recorderApp(), nullptr);
    EXPECT_EQ(s.recorder.graph(), nullptr);
    const std::string status = s.recorder.updateRecordingStatus();
    EXPECT_EQ(status.rfind(s.settings.outputFolder.utf8() + "00012.avi\nStopped. Cannot create ", 0), 0u)
        << status;
    EXPECT_NE(status.find("No such file or directory"), std::string::npos) << status;

    // A read-only folder (a read-only mount when running as root, who may write anywhere else).
    TempDir readOnly;
    bool mounted = false;
    if (::geteuid() == 0)
        mounted = ::mount("tmpfs", readOnly.folder().c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
    else
        ::chmod(readOnly.folder().c_str(), 0555);
    if (mounted || ::geteuid() != 0) {
        s.settings.outputFolder.assign(readOnly.folder());
        EXPECT_FALSE(s.recorder.startRecording("00013.avi"));
        const std::string text = s.recorder.updateRecordingStatus();
        EXPECT_NE(text.find("Stopped. Cannot create"), std::string::npos) << text;
    }
    if (mounted)
        ::umount(readOnly.folder().c_str());
    else
        ::chmod(readOnly.folder().c_str(), 0755);
}

TEST(AviWriter, StoppingWithNoFrameQueuedEndsAtOnce) {
    tavrin::testing::DiagnosticCapture diag;
    Rig s;
    ASSERT_TRUE(s.recorder.startRecording("00014.avi"));
    std::this_thread::sleep_for(200ms); // the pin is waiting for a frame by now
    s.recorder.stopRecording();         // the end marker releases it
    EXPECT_EQ(diag.count("starved"), 0) << "no 750 ms wait";
    EXPECT_EQ(diag.count("getNextFrame timed out or stop requested, stopping AVI\n"), 1);
    EXPECT_EQ(s.recorder.recorderApp(), nullptr);
    EXPECT_NE(::access((s.dir.folder() + "00014.avi").c_str(), F_OK), 0)
        << "a recording of no picture leaves no file";
    EXPECT_NE(::access((s.dir.folder() + ".00014.avi.unfinished").c_str(), F_OK), 0);
}

TEST(AviWriter, MissingCompressorAndCancelledDialogLeaveNoGraph) {
    Rig s;
    CancellingDialogs dialogs;
    s.recorder.setDialogs(&dialogs);
    s.settings.videoCodec.assign("No Such Codec");
    EXPECT_FALSE(s.recorder.startRecording("00015.avi"));
    EXPECT_EQ(dialogs.shown, 1);
    EXPECT_EQ(s.recorder.graph(), nullptr);
    EXPECT_EQ(s.recorder.recorderApp(), nullptr);
    const std::string status = s.recorder.updateRecordingStatus();
    EXPECT_EQ(status.rfind(s.dir.folder() + "00015.avi\nStopped.", 0), 0u) << status;
    EXPECT_EQ(s.pool.queue().count(), 12);
}

TEST(AviWriter, BytesWrittenGrowAndShowInTheStatusLine) {
    std::vector<uint32_t> clock = {1000, 1350};
    std::size_t tick = 0;
    Rig s;
    record::Recorder recorder(s.platform, s.settings, nullptr,
                              std::make_shared<record::SystemReferenceClock>(),
                              [&] { return clock[std::min(tick++, clock.size() - 1)]; });
    ASSERT_TRUE(recorder.startRecording("00016.avi"));
    feedFrames(s.pool, recorder, device::kDualScreenLayout, 60, 1000ms, 0, paintNoise);
    const std::string first = recorder.updateRecordingStatus();
    feedFrames(s.pool, recorder, device::kDualScreenLayout, 60, 1500ms, 60, paintNoise);
    const std::string second = recorder.updateRecordingStatus();
    recorder.stopRecording();
    // FFV1 of random pixels at 256 x 384 writes far more than a mebibyte a second.
    unsigned mb1 = 0, mb2 = 0, rate2 = 0;
    ASSERT_EQ(std::sscanf(first.substr(first.find('\n') + 1).c_str(), "%*u:%*u:%*u, %u MB", &mb1), 1)
        << first;
    ASSERT_EQ(std::sscanf(second.substr(second.find('\n') + 1).c_str(), "%*u:%*u:%*u, %u MB (%u kB/s)", &mb2,
                          &rate2),
              2)
        << second;
    EXPECT_GT(mb2, mb1);
    EXPECT_GT(rate2, 0u);
    EXPECT_NE(first.find("(0 kB/s)"), std::string::npos) << "the first update has no rate yet";
}

} // namespace

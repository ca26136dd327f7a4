// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/Recorder.h"
#include "device/FrameQueue.h"
#include "device/ScreenLayout.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeMediaPlatform.h"
#include "record/DeviceEnum.h"
#include "record/PcmFilter.h"
#include "record/RecordedArea.h"
#include "record/TavrinFilter.h"

#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::record;
using tavrin::testing::FakeCompressor;
using tavrin::testing::FakeMediaPlatform;
using tavrin::testing::FakeMux;
using namespace std::chrono_literals;
using tavrin::testing::eventually;

namespace {

TEST(RecordedArea, EachChoiceInBothLayouts) {
    EXPECT_EQ(recordedArea(0, 6), (RecordedArea{256, 384, 0}));
    EXPECT_EQ(recordedArea(1, 6), (RecordedArea{256, 192, 0}));
    EXPECT_EQ(recordedArea(2, 6), (RecordedArea{256, 192, 49152}));
    EXPECT_EQ(recordedArea(3, 6), (RecordedArea{256, 384, 0})) << "any other value records both";
    for (uint32_t choice : {0u, 1u, 2u, 7u})
        EXPECT_EQ(recordedArea(choice, 7), (RecordedArea{240, 160, 0}));
    EXPECT_EQ(recordedArea(2, 42), (RecordedArea{256, 192, 49152})) << "no such row: the dual layout";
    EXPECT_EQ(recordedArea(0, -1), (RecordedArea{256, 384, 0}));
}

TEST(RecordingStatus, Arithmetic) {
    uint32_t time = 0, kib = 0;
    // Right after the start: nothing yet.
    EXPECT_EQ(formatRecordingStatus("/out/", "00001.avi", 0, 0, 0, 5000, time, kib),
              "/out/00001.avi\n00:00:00, 0 MB (0 kB/s), 0.00 FPS");
    EXPECT_EQ(time, 5000u);
    // 700 KiB in 350 ms is 2000 kB/s; 3 MiB and a bit are 3 MB.
    EXPECT_EQ(formatRecordingStatus("/out/", "00001.avi", 61 * 10000000LL + 5, (3 << 20) + 700 * 1024, 1830,
                                    5350, time = 5000, kib = 3 * 1024),
              "/out/00001.avi\n00:01:01, 3 MB (2000 kB/s), 30.00 FPS");
    // A hundred hours and more: three digits.
    time = 0;
    EXPECT_EQ(formatRecordingStatus("", "x.avi", 360000LL * 10000000 + 3723LL * 10000000, 0, 0, 1, time, kib),
              "x.avi\n101:02:03, 0 MB (0 kB/s), 0.00 FPS");
    // The millisecond timer wraps; the difference does not care.
    time = 0xFFFFFF00u;
    kib = 100;
    EXPECT_NE(formatRecordingStatus("", "x.avi", 10000000, 1100 * 1024, 30, 0x00000090u, time, kib)
                  .find("(2500 kB/s)"),
              std::string::npos);
    // Same millisecond twice: no rate rather than a division by zero.
    time = 7;
    EXPECT_NE(formatRecordingStatus("", "x.avi", 10000000, 0, 0, 7, time, kib).find("(0 kB/s)"),
              std::string::npos);
}

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pool.setup());
        settings.outputFolder.assign("/videos/");
        settings.videoCodec.assign("Fake Codec");
        platform.addCompressor("Fake Codec B");
        platform.addCompressor("Fake Codec");
        platform.addAudioInput("Mic One");
        platform.addAudioInput("Mic Two");
        platform.add<PcmFilter>(CLSID_AudioCompressorCategory, "PCM",
                                [] { return std::make_shared<PcmFilter>(); });
    }

    TavrinFilter* source() {
        auto g = recorder.graph();
        return g ? dynamic_cast<TavrinFilter*>(g->FindFilterByName("videoSource")) : nullptr;
    }
    std::shared_ptr<FakeCompressor> compressor(const std::string& name) {
        return std::dynamic_pointer_cast<FakeCompressor>(platform.made[name].lock());
    }
    void feed(int frames, REFERENCE_TIME step) {
        for (int i = 0; i < frames; ++i) {
            clock->advance(step);
            const device::FrameRef f = pool.take(1s);
            ASSERT_TRUE(f);
            f->layout = device::screenLayouts[6];
            f->image.assign(256 * 384 * 4, static_cast<uint8_t>(i));
            if (auto* app = recorder.recorderApp())
                app->putFrame(f);
        }
    }

    tavrin::testing::DiagnosticCapture diag;
    device::FramePool pool;
    base::Settings settings = base::Settings::defaults("");
    FakeMediaPlatform platform;
    std::shared_ptr<ManualReferenceClock> clock = std::make_shared<ManualReferenceClock>();
    uint32_t now = 1000;
    Recorder recorder{platform, settings, nullptr, clock, [this] { return now; }};
};

TEST_F(RecorderTest, BuildsTheWholeGraphAndTearsItDown) {
    ASSERT_TRUE(recorder.startRecording("00007.avi"));
    ASSERT_NE(recorder.recorderApp(), nullptr);
    EXPECT_EQ(platform.paths, std::vector<std::string>{"/videos/00007.avi"});
    auto g = recorder.graph();
    ASSERT_NE(g, nullptr);
    for (const char* name : {"videoSource", "videoCompressor", "audioSource", "audioCompressor"})
        EXPECT_NE(g->FindFilterByName(name), nullptr) << name;
    FakeMux& mux = *platform.lastMux;
    EXPECT_EQ(g->sink().get(), &mux) << "every stream goes straight to the file";
    EXPECT_EQ(mux.connectedPins(MEDIATYPE_Video), 1);
    EXPECT_EQ(mux.connectedPins(MEDIATYPE_Audio), 1);
    EXPECT_EQ(mux.mode, INTERLEAVE_NONE_BUFFERED);
    EXPECT_EQ(mux.master, -1);
    EXPECT_EQ(source()->pin->width(), 256);
    EXPECT_EQ(source()->pin->height(), 384);
    EXPECT_EQ(source()->pin->frameInterval(), 333333) << "recordFps 30 reached the pin";
    FILTER_STATE state;
    g->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(recorder.updateRecordingStatus(), "/videos/00007.avi\n00:00:00, 0 MB (0 kB/s), 0.00 FPS");

    feed(20, 333333);
    EXPECT_TRUE(eventually([&] { return mux.count("video") >= 19; }, 1s));
    EXPECT_EQ(mux.videoThrough, settings.videoCodec.utf8()) << "the video goes through the chosen compressor";
    EXPECT_TRUE(eventually([&] { return mux.count("audio") > 0; }, 1s));

    auto file = platform.lastMux;
    recorder.stopRecording();
    EXPECT_EQ(file->stops, 1) << "the file is completed once";
    // The header before the first picture; the file completed after all its inputs got
    // (the stop may overtake the pin's end marker: then the file ends the stream itself).
    ASSERT_GE(file->events.size(), 3u);
    EXPECT_EQ(file->events.front(), "start");
    EXPECT_EQ(file->events[1], "video");
    EXPECT_EQ(file->events.back(), "stop");
    EXPECT_EQ(recorder.recorderApp(), nullptr);
    EXPECT_EQ(recorder.graph(), nullptr);
    EXPECT_EQ(recorder.updateRecordingStatus(), "/videos/00007.avi\nStopped.");
    EXPECT_EQ(pool.queue().count(), 12);
    EXPECT_TRUE(platform.made["videoCompressor"].expired());
    recorder.stopRecording(); // harmless when idle
}

TEST_F(RecorderTest, StatusWhileRunningCountsTimeBytesRateAndSamples) {
    ASSERT_TRUE(recorder.startRecording("00008.avi"));
    recorder.updateRecordingStatus();
    feed(31, 333333);
    eventually(
        [&] {
            int64_t n = 0;
            recorder.recorderApp()->getStatistic(STAT_SAMPLES, &n);
            return n >= 30;
        },
        1s);
    platform.lastMux->bytes = 700 * 1024;
    now += 350;
    const std::string status = recorder.updateRecordingStatus();
    // The last frame sits at index 31: 1.03 s of media time; 30 or 31 samples filled by now.
    EXPECT_TRUE(status == "/videos/00008.avi\n00:00:01, 0 MB (2000 kB/s), 29.03 FPS" ||
                status == "/videos/00008.avi\n00:00:01, 0 MB (2000 kB/s), 30.00 FPS")
        << status;
    EXPECT_EQ(platform.lastMux->timeFormat, TIME_FORMAT_BYTE);
    recorder.stopRecording();
}

TEST_F(RecorderTest, RecordedAreaFollowsTheChoiceAndTheLayout) {
    struct Case {
        int32_t layout;
        uint32_t screens;
        RecordedArea area;
    };
    for (const Case c : {Case{6, 0, {256, 384, 0}}, Case{6, 1, {256, 192, 0}}, Case{6, 2, {256, 192, 49152}},
                         Case{7, 0, {240, 160, 0}}, Case{7, 2, {240, 160, 0}}}) {
        settings.displayMode = c.layout;
        settings.recordScreens = c.screens;
        ASSERT_TRUE(recorder.startRecording("a.avi"));
        ASSERT_NE(source(), nullptr);
        EXPECT_EQ(source()->pin->width(), c.area.width);
        EXPECT_EQ(source()->pin->height(), c.area.height);
        EXPECT_EQ(source()->pin->offset(), c.area.offset);
        const MediaType& mt = source()->pin->connectionType();
        EXPECT_EQ(mt.formatAs<VIDEOINFOHEADER>()->bmiHeader.biWidth, c.area.width);
        recorder.stopRecording();
    }
}

TEST_F(RecorderTest, SoundInputByNameFirstOrNone) {
    settings.audioSource.assign("");
    ASSERT_TRUE(recorder.startRecording("a.avi"));
    auto* audio =
        dynamic_cast<tavrin::testing::FakeAudioSource*>(recorder.graph()->FindFilterByName("audioSource"));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->name, "Mic One") << "empty: the first device in the system's order";
    recorder.stopRecording();

    settings.audioSource.assign("Mic Two");
    ASSERT_TRUE(recorder.startRecording("a.avi"));
    audio =
        dynamic_cast<tavrin::testing::FakeAudioSource*>(recorder.graph()->FindFilterByName("audioSource"));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->name, "Mic Two");
    recorder.stopRecording();

    settings.audioSource.assign("mic two"); // names match exactly
    ASSERT_TRUE(recorder.startRecording("a.avi"));
    EXPECT_EQ(recorder.graph()->FindFilterByName("audioSource"), nullptr);
    recorder.stopRecording();
    settings.audioSource.assign("(no sound)");
    ASSERT_TRUE(recorder.startRecording("a.avi"));
    EXPECT_EQ(recorder.graph()->FindFilterByName("audioSource"), nullptr);
    EXPECT_EQ(recorder.graph()->FindFilterByName("audioCompressor"), nullptr);
    EXPECT_EQ(platform.lastMux->connectedPins(MEDIATYPE_Audio), 0);
    EXPECT_EQ(diag.count("getAudioSource failed\n"), 2);
    recorder.stopRecording();
}

// The chosen input is opened ahead of the first recording only where a sound server lists
// the inputs; without one, listing them waits for a need.
TEST_F(RecorderTest, TheSoundInputIsOpenedAheadOnlyWhereAServerListsIt) {
    struct Case {
        bool server;
        const char* source;
        int listings;
    };
    for (const Case c : {Case{true, "", 1}, Case{true, "(no sound)", 0}, Case{false, "", 0}}) {
        FakeMediaPlatform p;
        p.addAudioInput("Mic");
        p.serverAnswers = c.server;
        settings.audioSource.assign(c.source);
        Recorder r{p, settings, nullptr, clock, [this] { return now; }};
        r.prepareSoundInput();
        EXPECT_EQ(p.soundInputListings, c.listings) << c.server << " '" << c.source << "'";
        EXPECT_EQ(p.made.count("Mic"), static_cast<std::size_t>(c.listings))
            << c.server << " '" << c.source << "'";
    }
}

// The saved input plugged in after the platform last looked: the recording asks it to
// look again, once, and records from it.
TEST_F(RecorderTest, AnInputPluggedInSinceTheLastLookIsFound) {
    FakeMediaPlatform p;
    p.addCompressor("Fake Codec");
    p.addAudioInput("Mic");
    p.onSoundInputLook = [&p] { p.addAudioInput("Headset"); };
    settings.audioSource.assign("Headset");
    Recorder r{p, settings, nullptr, clock, [this] { return now; }};
    ASSERT_TRUE(r.startRecording("h.avi"));
    auto* audio = dynamic_cast<tavrin::testing::FakeAudioSource*>(r.graph()->FindFilterByName("audioSource"));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->name, "Headset");
    EXPECT_EQ(p.soundInputLooks, 1);
    r.stopRecording();
    p.onSoundInputLook = nullptr;
    ASSERT_TRUE(r.startRecording("i.avi"));
    EXPECT_EQ(p.soundInputLooks, 1) << "found in the list kept: no second look";
    r.stopRecording();
}

TEST_F(RecorderTest, SoundTroubleAndEmptySlotsShowBesideTheFigures) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, bool>> inputs; // name, dummy
        std::string problem;                              // the platform's word on sound
        std::string audioSource;
        std::string usedInput; // empty: none
        std::string tail;      // after the usual figures
        // The platform keeps its list: asked to look again only when the input is not in it.
        int looks = 0;
    };
    const Case cases[] = {
        {"a dummy first is passed over", {{"Null", true}, {"Mic", false}}, "", "", "Mic", ""},
        {"a dummy named by the user is used", {{"Null", true}, {"Mic", false}}, "", "Null", "Null", ""},
        {"only a dummy", {{"Null", true}}, "", "", "", ", no sound (no sound input was found)", 1},
        {"no sound server",
         {},
         "no sound server is running",
         "",
         "",
         ", no sound (no sound server is running)",
         1},
        {"the saved input is gone",
         {{"Mic", false}},
         "",
         "Headset",
         "",
         ", no sound (\"Headset\" is not connected)",
         1},
        {"sound turned off", {{"Mic", false}}, "", "(no sound)", "", ""},
    };
    for (const Case& c : cases) {
        FakeMediaPlatform p;
        p.addCompressor("Fake Codec");
        for (const auto& [name, dummy] : c.inputs)
            p.addAudioInput(name, dummy);
        p.soundProblemText = c.problem;
        settings.audioSource.assign(c.audioSource);
        Recorder r{p, settings, nullptr, clock, [this] { return now; }};
        ASSERT_TRUE(r.startRecording("s.avi")) << c.name;
        auto* audio =
            dynamic_cast<tavrin::testing::FakeAudioSource*>(r.graph()->FindFilterByName("audioSource"));
        EXPECT_EQ(audio ? audio->name : std::string(), c.usedInput) << c.name;
        EXPECT_EQ(p.soundInputLooks, c.looks) << c.name;
        if (c.audioSource == "(no sound)") {
            EXPECT_EQ(p.soundInputListings, 0) << "sound off needs no look at the inputs";
        }
        EXPECT_EQ(r.updateRecordingStatus(), "/videos/s.avi\n00:00:00, 0 MB (0 kB/s), 0.00 FPS" + c.tail)
            << c.name;
        if (audio) {
            audio->status.lost = true;
            EXPECT_EQ(r.updateRecordingStatus(),
                      "/videos/s.avi\n00:00:00, 0 MB (0 kB/s), 0.00 FPS, sound lost")
                << c.name;
        }
        r.stopRecording();
    }

    // Slots left empty by a stalled picture are counted beside the figures, and the
    // debug output has the count once a second.
    settings.audioSource.assign("(no sound)");
    const int lines = diag.count("recording: ");
    ASSERT_TRUE(recorder.startRecording("e.avi"));
    feed(1, 333333);
    feed(1, 5 * 333333); // four slots with no frame: three stay empty
    const std::string status = recorder.updateRecordingStatus();
    EXPECT_NE(status.find("FPS, 3 empty slots"), std::string::npos) << status;
    now += 400;
    recorder.updateRecordingStatus();
    now += 700;
    recorder.updateRecordingStatus();
    EXPECT_EQ(diag.count("recording: "), lines + 2) << "one line a second";
    EXPECT_EQ(diag.count(", 3 empty ("), 2);
    recorder.stopRecording();
}

TEST_F(RecorderTest, WithoutPcmTheSoundGoesStraightToTheMultiplexer) {
    platform.categories.erase(
        std::remove_if(platform.categories.begin(), platform.categories.end(),
                       [](auto& c) { return c.first == CLSID_AudioCompressorCategory; }),
        platform.categories.end());
    ASSERT_TRUE(recorder.startRecording("a.avi"));
    EXPECT_NE(recorder.graph()->FindFilterByName("audioSource"), nullptr);
    EXPECT_EQ(recorder.graph()->FindFilterByName("audioCompressor"), nullptr);
    EXPECT_EQ(platform.lastMux->connectedPins(MEDIATYPE_Audio), 1);
    recorder.stopRecording();
}

TEST_F(RecorderTest, SoundThatCannotBeConnectedFailsTheWholeStart) {
    platform.refuseAudio = true;
    EXPECT_FALSE(recorder.startRecording("a.avi"));
    EXPECT_EQ(recorder.graph(), nullptr);
    EXPECT_EQ(recorder.recorderApp(), nullptr);
    EXPECT_EQ(recorder.updateRecordingStatus(),
              "/videos/a.avi\nStopped. The sound input could not be connected.");
}

TEST_F(RecorderTest, FileThatCannotBeCreatedFailsWithTheReason) {
    platform.muxError = "Cannot create /videos/a.avi: Permission denied.";
    EXPECT_FALSE(recorder.startRecording("a.avi"));
    EXPECT_EQ(recorder.graph(), nullptr);
    EXPECT_EQ(recorder.updateRecordingStatus(),
              "/videos/a.avi\nStopped. Cannot create /videos/a.avi: Permission denied.");
}

TEST_F(RecorderTest, RunFailureIsReported) {
    platform.failPause = true;
    EXPECT_FALSE(recorder.startRecording("a.avi"));
    EXPECT_EQ(diag.count("pControl->Run() failed\n"), 1);
    EXPECT_EQ(recorder.graph(), nullptr);
    EXPECT_EQ(pool.queue().count(), 12);
}

class ScriptedDialogs : public RecordingDialogs {
  public:
    explicit ScriptedDialogs(std::function<bool()> answer) : answer_(std::move(answer)) {}
    bool showVideoCodecDialog() override {
        ++shown;
        return answer_();
    }
    int shown = 0;

  private:
    std::function<bool()> answer_;
};

TEST_F(RecorderTest, MissingCompressorAsksAndCancelLeavesNothing) {
    settings.videoCodec.assign("Gone Codec");
    ScriptedDialogs cancel([] { return false; });
    recorder.setDialogs(&cancel);
    EXPECT_FALSE(recorder.startRecording("a.avi"));
    EXPECT_EQ(cancel.shown, 1);
    EXPECT_EQ(recorder.graph(), nullptr);
    EXPECT_EQ(recorder.recorderApp(), nullptr);
    EXPECT_EQ(recorder.updateRecordingStatus().rfind("/videos/a.avi\nStopped.", 0), 0u);

    // The dialog may choose another compressor; the start then goes on with it.
    ScriptedDialogs choose([this] {
        settings.videoCodec.assign("Fake Codec B");
        return true;
    });
    recorder.setDialogs(&choose);
    settings.videoCodec.assign("Gone Codec");
    EXPECT_TRUE(recorder.startRecording("a.avi"));
    EXPECT_EQ(dynamic_cast<FakeCompressor*>(recorder.graph()->FindFilterByName("videoCompressor"))->name,
              "Fake Codec B");
    recorder.stopRecording();

    // OK without a usable choice still fails.
    ScriptedDialogs okButNothing([] { return true; });
    recorder.setDialogs(&okButNothing);
    settings.videoCodec.assign("Gone Codec");
    EXPECT_FALSE(recorder.startRecording("a.avi"));
    EXPECT_EQ(recorder.graph(), nullptr);
    // Without a dialog to ask, the start fails too.
    recorder.setDialogs(nullptr);
    EXPECT_FALSE(recorder.startRecording("a.avi"));
}

TEST_F(RecorderTest, FilterFailureStopsTheRecordingOnTheNextStatus) {
    ASSERT_TRUE(recorder.startRecording("b.avi"));
    platform.lastMux->raise(EC_ERRORABORT, base::Error::status(E_DISK_FULL, "The disk is full."));
    EXPECT_EQ(recorder.updateRecordingStatus(), "/videos/b.avi\nStopped. The disk is full.");
    EXPECT_EQ(recorder.recorderApp(), nullptr) << "the recording was stopped";
    EXPECT_EQ(recorder.updateRecordingStatus(), "/videos/b.avi\nStopped. The disk is full.")
        << "and it stays said";
    // The next recording starts clean.
    ASSERT_TRUE(recorder.startRecording("c.avi"));
    recorder.stopRecording();
    EXPECT_EQ(recorder.updateRecordingStatus(), "/videos/c.avi\nStopped.");
}

TEST_F(RecorderTest, StartingAgainStopsTheRunningRecordingFirst) {
    ASSERT_TRUE(recorder.startRecording("one.avi"));
    auto first = recorder.graph();
    ASSERT_TRUE(recorder.startRecording("two.avi"));
    FILTER_STATE state;
    first->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_NE(recorder.graph(), first);
    first.reset();
    recorder.stopRecording();
}

TEST_F(RecorderTest, LongFileNamesAreCutTo31Units) {
    ASSERT_TRUE(recorder.startRecording(std::string(40, 'n')));
    EXPECT_EQ(recorder.recordFileName(), std::string(31, 'n'));
    EXPECT_EQ(platform.paths.back(), "/videos/" + std::string(31, 'n'));
    recorder.stopRecording();
}

TEST_F(RecorderTest, SavedQualityAndStateGoOnlyToTheSavedCompressor) {
    settings.videoQuality = 0.42;
    settings.videoCodecSettings = {0x78, 0x56, 0x34};
    auto filter = recorder.findVideoCompressor("Fake Codec");
    auto* c = dynamic_cast<FakeCompressor*>(filter.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->quality, 0.42);
    EXPECT_EQ(c->state, settings.videoCodecSettings);
    EXPECT_EQ(diag.count("getFilter:SetState(00345678.., 3)=0\n"), 1) << diag.text();

    auto other = recorder.findVideoCompressor("Fake Codec B");
    auto* b = dynamic_cast<FakeCompressor*>(other.get());
    EXPECT_EQ(b->putQualityCalls, 0);
    EXPECT_EQ(b->setStateCalls, 0);

    settings.videoCodecSettings.clear();
    auto again = recorder.findVideoCompressor("Fake Codec");
    EXPECT_EQ(dynamic_cast<FakeCompressor*>(again.get())->setStateCalls, 0) << "no blob, no SetState";
    EXPECT_EQ(recorder.findVideoCompressor("Fake"), nullptr) << "a prefix is not a name";
}

TEST_F(RecorderTest, DeviceWithoutANameIsSkipped) {
    platform.categories.insert(
        platform.categories.begin(),
        {CLSID_AudioInputDeviceCategory,
         {{"", [] { return std::make_shared<tavrin::testing::FakeAudioSource>("nameless"); }}}});
    std::vector<std::string> names;
    findDevice(platform, &names, CLSID_AudioInputDeviceCategory, listFriendlyName);
    EXPECT_EQ(names, (std::vector<std::string>{"Mic One", "Mic Two"}));
    auto first = findDevice(platform, nullptr, CLSID_AudioInputDeviceCategory, takeFirstDevice);
    EXPECT_EQ(dynamic_cast<tavrin::testing::FakeAudioSource*>(first.get())->name, "Mic One");
}

} // namespace

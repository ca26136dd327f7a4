// SPDX-License-Identifier: GPL-2.0-or-later
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeMediaPlatform.h"
#include "record/AudioSettingsDialogLogic.h"
#include "record/ListText.h"
#include "record/PcmFilter.h"
#include "record/VideoCodecDialogLogic.h"

#include <gtest/gtest.h>

#include <optional>

using namespace tavrin;
using namespace tavrin::record;
using tavrin::testing::FakeCompressor;
using tavrin::testing::FakeMediaPlatform;

namespace {

// The dialog's controls, as plain values.
class FakeCodecView : public VideoCodecDialogView {
  public:
    void setCodecItems(const std::vector<std::string>& i) override { items = i; }
    void setCodecSelection(int index) override { selection = index; }
    int codecSelection() const override { return selection; }
    void setQuality(int position, const std::string& text, bool enabled) override {
        quality = position;
        qualityText = text;
        qualityEnabled = enabled;
    }
    int qualityPosition() const override { return quality; }
    void setFps(int position, const std::string& text) override {
        fps = position;
        fpsText = text;
    }
    void enableConfigure(bool e) override { configure = e; }
    void enableAbout(bool e) override { about = e; }
    void setScreens(uint32_t s) override { screens = s; }
    bool topChecked() const override { return screens == 1; }
    bool bottomChecked() const override { return screens == 2; }
    void* window() override { return this; }

    std::vector<std::string> items;
    int selection = -2;
    int quality = -1;
    std::string qualityText = "?";
    bool qualityEnabled = true;
    int fps = -1;
    std::string fpsText;
    bool configure = true;
    bool about = true;
    uint32_t screens = 99;
};

class CodecDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        addCompressor("Fake Codec B");
        addCompressor("Fake Codec");
        addCompressor("alpha codec");
        platform.add<tavrin::testing::BareCompressor>(CLSID_VideoCompressorCategory, "Bare", [] {
            return std::make_shared<tavrin::testing::BareCompressor>();
        });
        settings.videoCodec.assign("Fake Codec");
    }
    void addCompressor(const std::string& name) {
        platform.add<FakeCompressor>(CLSID_VideoCompressorCategory, name, [this, name] {
            auto c = std::make_shared<FakeCompressor>(name);
            c->state = {static_cast<uint8_t>(name.size()), 'S', 'T'};
            if (tweak)
                tweak(*c);
            return c;
        });
    }
    FakeCompressor* current() { return dynamic_cast<FakeCompressor*>(logic.dialogCodec()); }
    void select(const std::string& name) {
        view.selection = findPrefix(view.items, name);
        ASSERT_EQ(view.items[view.selection], name);
        logic.onCodecSelected();
    }

    tavrin::testing::DiagnosticCapture diag;
    FakeMediaPlatform platform;
    base::Settings settings = base::Settings::defaults("");
    std::function<void(FakeCompressor&)> tweak;
    FakeCodecView view;
    VideoCodecDialogLogic logic{view, settings, platform};
};

TEST_F(CodecDialogTest, OpeningListsSortedNamesSelectsTheSavedOneAndShowsItsQuality) {
    settings.videoQuality = 0.85;
    logic.onOpen();
    EXPECT_EQ(view.items, (std::vector<std::string>{"alpha codec", "Bare", "Fake Codec", "Fake Codec B"}));
    EXPECT_EQ(view.selection, 2);
    EXPECT_EQ(view.quality, 85) << "the saved quality was given to the compressor, which reports it back";
    EXPECT_EQ(view.qualityText, "85");
    EXPECT_TRUE(view.qualityEnabled);
    EXPECT_TRUE(view.configure);
    EXPECT_TRUE(view.about);
    EXPECT_EQ(view.fps, 1);
    EXPECT_EQ(view.fpsText, "30");
    EXPECT_EQ(view.screens, 0u);
}

TEST_F(CodecDialogTest, OddFrameRateShowsThirtyAndStaysOnCancel) {
    settings.recordFps = 25;
    logic.onOpen();
    EXPECT_EQ(view.fps, 1);
    EXPECT_EQ(view.fpsText, "30");
    logic.onCancel();
    EXPECT_EQ(settings.recordFps, 30);
}

TEST_F(CodecDialogTest, FrameRateSliderTakesEffectEvenOnCancel) {
    logic.onOpen();
    logic.onFpsSlider(2);
    EXPECT_EQ(view.fpsText, "60");
    EXPECT_EQ(settings.recordFps, 60);
    logic.onCancel();
    EXPECT_EQ(settings.recordFps, 60);
    logic.onFpsSlider(0);
    EXPECT_EQ(settings.recordFps, 20);
}

TEST_F(CodecDialogTest, QualityFiftyAndOkGivesHalfAndReopeningShowsFifty) {
    logic.onOpen();
    logic.onQualitySlider(50);
    EXPECT_EQ(view.qualityText, "50");
    logic.onOk();
    EXPECT_EQ(settings.videoQuality, 0.50);
    EXPECT_EQ(settings.videoCodec.utf8(), "Fake Codec");

    FakeCodecView again;
    VideoCodecDialogLogic reopened(again, settings, platform);
    reopened.onOpen();
    EXPECT_EQ(again.quality, 50);
}

TEST_F(CodecDialogTest, QualityRoundTripsWithoutDrifting) {
    for (int q : {29, 57, 58, 1, 99}) {
        settings.videoQuality = q / 100.0;
        logic.onOpen();
        EXPECT_EQ(view.quality, q);
        logic.onOk();
        EXPECT_EQ(settings.videoQuality, q / 100.0) << "OK without touching the slider keeps " << q;
    }
}

TEST_F(CodecDialogTest, PrefixSelectsTheFirstSortedMatchIgnoringCase) {
    settings.videoCodec.assign("fake");
    logic.onOpen();
    EXPECT_EQ(view.items[view.selection], "Fake Codec");
    settings.videoCodec.assign("FAKE CODEC B");
    logic.onOpen();
    EXPECT_EQ(view.items[view.selection], "Fake Codec B");
    settings.videoCodec.assign("zzz");
    logic.onOpen();
    EXPECT_EQ(view.selection, -1);
}

TEST_F(CodecDialogTest, OkReplacesTheStateWithTheSelectedCompressorsState) {
    settings.videoCodecSettings = {9, 9, 9, 9, 9};
    logic.onOpen();
    EXPECT_EQ(current()->setStateCalls, 1) << "the saved compressor got the saved state";
    select("Fake Codec B");
    logic.onOk();
    EXPECT_EQ(settings.videoCodec.utf8(), "Fake Codec B");
    EXPECT_EQ(settings.videoCodecSettings, (std::vector<uint8_t>{12, 'S', 'T'}));
    EXPECT_EQ(diag.count("GetState(3)=0054530C..\n"), 1) << diag.text();
}

TEST_F(CodecDialogTest, ConfigureAndAboutReachTheCompressorWithTheDialogAsOwner) {
    tweak = [](FakeCompressor& c) { c.configuredState = {'N', 'E', 'W'}; };
    logic.onOpen();
    logic.onConfigure();
    logic.onAbout();
    EXPECT_EQ(current()->shownDialogs,
              (std::vector<int32_t>{VfwCompressDialog_QueryConfig, VfwCompressDialog_QueryAbout,
                                    VfwCompressDialog_Config, VfwCompressDialog_About}));
    logic.onOk();
    EXPECT_EQ(settings.videoCodecSettings, (std::vector<uint8_t>{'N', 'E', 'W'}))
        << "the configuration is kept on OK";
}

TEST_F(CodecDialogTest, ConfigurationIsNotKeptOnCancel) {
    tweak = [](FakeCompressor& c) { c.configuredState = {'N', 'E', 'W'}; };
    settings.videoCodecSettings = {'O', 'L', 'D'};
    logic.onOpen();
    logic.onConfigure();
    logic.onCancel();
    EXPECT_EQ(settings.videoCodecSettings, (std::vector<uint8_t>{'O', 'L', 'D'}));
    EXPECT_EQ(logic.dialogCodec(), nullptr) << "the compressor is released when the dialog closes";
}

TEST_F(CodecDialogTest, NoCompressorOfThatNameKeepsTheCodecSettings) {
    settings.videoCodec.assign("Gone");
    settings.videoQuality = 0.3;
    settings.videoCodecSettings = {1, 2};
    logic.onOpen();
    EXPECT_EQ(view.selection, -1);
    EXPECT_FALSE(view.configure);
    EXPECT_FALSE(view.about);
    EXPECT_FALSE(view.qualityEnabled);
    EXPECT_EQ(view.quality, 100);
    EXPECT_EQ(view.qualityText, "");
    view.screens = 2;
    logic.onOk();
    EXPECT_EQ(settings.videoCodec.utf8(), "Gone");
    EXPECT_EQ(settings.videoQuality, 0.3);
    EXPECT_EQ(settings.videoCodecSettings, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(settings.recordScreens, 2u) << "the screens are taken anyway";
}

TEST_F(CodecDialogTest, CompressorWithoutDialogsOrQualityStoresFullQualityAndNoState) {
    settings.videoCodecSettings = {1, 2};
    logic.onOpen();
    select("Bare");
    EXPECT_FALSE(view.configure);
    EXPECT_FALSE(view.about);
    EXPECT_FALSE(view.qualityEnabled);
    EXPECT_EQ(view.quality, 100);
    logic.onOk();
    EXPECT_EQ(settings.videoCodec.utf8(), "Bare");
    EXPECT_EQ(settings.videoQuality, 1.0);
    EXPECT_TRUE(settings.videoCodecSettings.empty());
}

TEST_F(CodecDialogTest, QualityFallsBackToTheDefaultAndGetStateFailureKeepsNoState) {
    tweak = [](FakeCompressor& c) {
        c.getQualityResult = E_FAIL;
        c.defaultQuality = 0.6;
        c.getStateFails = true;
    };
    settings.videoCodecSettings = {5};
    logic.onOpen();
    EXPECT_EQ(view.quality, 60);
    logic.onOk();
    EXPECT_EQ(diag.count("pCompressDialogs::GetState failed\n"), 1);
    EXPECT_TRUE(settings.videoCodecSettings.empty());
    EXPECT_EQ(settings.videoQuality, 0.6);
}

TEST_F(CodecDialogTest, ScreensRadioWritesRecordScreens) {
    settings.recordScreens = 1;
    logic.onOpen();
    EXPECT_EQ(view.screens, 1u);
    view.screens = 2;
    logic.onOk();
    EXPECT_EQ(settings.recordScreens, 2u);
    logic.onOpen();
    view.screens = 0;
    logic.onOk();
    EXPECT_EQ(settings.recordScreens, 0u);
}

class FakeAudioView : public AudioSettingsDialogView {
  public:
    void setSourceItems(const std::vector<std::string>& i) override { sources = i; }
    void setSourceSelection(int i) override { source = i; }
    int sourceSelection() const override { return source; }
    void setCompressorItems(const std::vector<std::string>& i) override { compressors = i; }
    void setCompressorSelection(int i) override { compressor = i; }
    int compressorSelection() const override { return compressor; }
    void showSoundProblem(const std::string& text) override { problem = text; }
    void showListen(bool checked) override { listenShown = listen = checked; }
    bool listenChecked() const override { return listen; }
    std::vector<std::string> sources, compressors;
    std::optional<bool> listenShown;
    bool listen = false;
    int source = -2, compressor = -2;
    std::string problem = "not shown";
};

TEST(AudioDialog, SourcesInSystemOrderThenNoSoundAndTheSavedOneSelected) {
    FakeMediaPlatform platform;
    platform.addAudioInput("Zeta Mic");
    platform.addAudioInput("Alpha Mic");
    platform.add<PcmFilter>(CLSID_AudioCompressorCategory, "PCM",
                            [] { return std::make_shared<PcmFilter>(); });
    platform.add<PcmFilter>(CLSID_AudioCompressorCategory, "ADPCM",
                            [] { return std::make_shared<PcmFilter>(); });
    base::Settings settings = base::Settings::defaults("");
    FakeAudioView view;
    AudioSettingsDialogLogic logic(view, settings, platform);

    settings.audioSource.assign("");
    logic.onOpen();
    EXPECT_EQ(view.sources, (std::vector<std::string>{"Zeta Mic", "Alpha Mic", "(no sound)"}));
    EXPECT_EQ(view.source, 0);
    EXPECT_EQ(view.compressors, (std::vector<std::string>{"ADPCM", "PCM"}));
    EXPECT_EQ(view.compressors[view.compressor], "PCM");
    logic.onOk();
    EXPECT_EQ(settings.audioSource.utf8(), "Zeta Mic") << "an empty source stores the first device's name";
    EXPECT_EQ(settings.audioCompressor.utf8(), "PCM");

    settings.audioSource.assign("alpha");
    logic.onOpen();
    EXPECT_EQ(view.source, 1);
    settings.audioSource.assign("Gone Mic");
    logic.onOpen();
    EXPECT_EQ(view.source, 0) << "no match leaves the first item";
    view.source = 2;
    logic.onOk();
    EXPECT_EQ(settings.audioSource.utf8(), "(no sound)");
    logic.onOpen();
    EXPECT_EQ(view.sources[view.source], "(no sound)");
}

TEST(AudioDialog, NoDeviceLeavesOnlyNoSound) {
    FakeMediaPlatform platform;
    base::Settings settings = base::Settings::defaults("");
    FakeAudioView view;
    AudioSettingsDialogLogic logic(view, settings, platform);
    logic.onOpen();
    EXPECT_EQ(view.sources, std::vector<std::string>{"(no sound)"});
    EXPECT_EQ(view.problem, "");
    EXPECT_EQ(view.compressor, -1);
    // Without a sound server the dialog says so, and what to do.
    platform.soundProblemText = "no sound server is running";
    logic.onOpen();
    EXPECT_EQ(platform.soundInputLooks, 2) << "each opening shows the inputs as they are now";
    EXPECT_EQ(view.problem, "No sound can be recorded: no sound server is running. Start the sound server, "
                            "then open this dialog again.");
    logic.onOk();
    EXPECT_EQ(settings.audioCompressor.utf8(), "") << "nothing selected stores an empty name";
    EXPECT_EQ(settings.audioSource.utf8(), "(no sound)");
}

TEST(AudioDialog, TheListenSwitchIsShownAndStoredOnOkOnlyWhereTheBuildListens) {
    FakeMediaPlatform platform;
    platform.addAudioInput("Line In");
    base::Settings settings = base::Settings::defaults("");
    FakeAudioView without;
    AudioSettingsDialogLogic plain(without, settings, platform);
    plain.onOpen();
    EXPECT_FALSE(without.listenShown.has_value());

    bool listen = true;
    FakeAudioView view;
    AudioSettingsDialogLogic logic(view, settings, platform, &listen);
    logic.onOpen();
    EXPECT_EQ(view.listenShown, std::optional<bool>(true));
    view.listen = false;
    EXPECT_TRUE(listen) << "nothing changes before OK";
    logic.onOk();
    EXPECT_FALSE(listen);
    view.listen = true;
    logic.onOk();
    EXPECT_TRUE(listen);
}

TEST(ListText, ClipsByUtf16UnitsAndMatchesPrefixesWithoutCase) {
    EXPECT_EQ(clipUnits(std::string(200, 'a'), 127).size(), 127u);
    // 126 letters and a character outside the basic plane (two units) does not fit in 127.
    const std::string emoji = "\xF0\x9F\x8E\xA5";
    EXPECT_EQ(clipUnits(std::string(126, 'a') + emoji, 127), std::string(126, 'a'));
    EXPECT_EQ(clipUnits(std::string(125, 'a') + emoji, 127), std::string(125, 'a') + emoji);
    EXPECT_EQ(clipUnits("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
    EXPECT_EQ(findPrefix({"b", "ab", "Abc"}, "AB"), 1);
    EXPECT_EQ(findPrefix({"b"}, ""), 0);
    EXPECT_EQ(findPrefix({}, ""), -1);
    std::vector<std::string> items = {"beta", "Alpha", "alpha2", "Gamma"};
    sortListItems(items);
    EXPECT_EQ(items, (std::vector<std::string>{"Alpha", "alpha2", "beta", "Gamma"}));
}

} // namespace

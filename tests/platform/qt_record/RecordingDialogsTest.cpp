// SPDX-License-Identifier: GPL-2.0-or-later
#include "fakes/FakeControlWindow.h"
#include "fakes/FakeMediaPlatform.h"
#include "fakes/TempDir.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/qt_record/AudioSettingsDialog.h"
#include "platform/qt_record/CodecOptionsDialog.h"
#include "platform/qt_record/QtCompressorDialogHost.h"
#include "platform/qt_record/RecordingSetup.h"
#include "platform/qt_record/SoundControlPanel.h"
#include "platform/qt_record/VideoCodecDialog.h"
#include "record/PcmFilter.h"
#include "ui_AudioSettingsDialog.h"

#include "ui_VideoCodecDialog.h"
#include <QCheckBox>

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::record;
using tavrin::testing::FakeCompressor;
using tavrin::testing::FakeMediaPlatform;

namespace {

// Dialog units to pixels: 1.5 across, 1.625 down.
QRect dialogUnits(int x, int y, int w, int h) {
    return QRect(qRound(x * 1.5), qRound(y * 1.625), qRound(w * 1.5), qRound(h * 1.625));
}

// The named controls that take the keyboard focus, in tab order from `first`.
QStringList tabOrder(QWidget* first, const QStringList& names) {
    QStringList order;
    QWidget* w = first;
    do {
        if (names.contains(w->objectName()) && !order.contains(w->objectName()))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != first);
    return order;
}

class VideoDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"Fake Codec B", "Fake Codec", "alpha codec"})
            platform.add<FakeCompressor>(CLSID_VideoCompressorCategory, name,
                                         [name] { return std::make_shared<FakeCompressor>(name); });
        settings.videoCodec.assign("Fake Codec");
    }
    FakeMediaPlatform platform;
    base::Settings settings = base::Settings::defaults("");
};

TEST_F(VideoDialogTest, LayoutTextsAndTabOrderFollowTheResource) {
    qt_record::VideoCodecDialog dialog(nullptr, settings, platform);
    auto& ui = dialog.ui();
    EXPECT_EQ(dialog.windowTitle(), "Video Codec");
    EXPECT_EQ(dialog.size(), QSize(qRound(235 * 1.5), qRound(88 * 1.625)));
    EXPECT_EQ(ui.IDOK->geometry(), dialogUnits(178, 7, 50, 14));
    EXPECT_EQ(ui.IDCANCEL->geometry(), dialogUnits(178, 23, 50, 14));
    EXPECT_EQ(ui.IDC_CONFIGURE->geometry(), dialogUnits(178, 39, 50, 14));
    EXPECT_EQ(ui.IDC_ABOUT->geometry(), dialogUnits(178, 55, 50, 14));
    EXPECT_EQ(ui.IDC_QUALITY->geometry(), dialogUnits(40, 24, 93, 15));
    EXPECT_EQ(ui.IDC_FPS->geometry(), dialogUnits(40, 47, 93, 15));
    // Texts may grow to the right when the font is wider; the place stays.
    EXPECT_EQ(ui.IDC_BOTTOM_SCREEN->pos(), dialogUnits(128, 71, 39, 10).topLeft());
    EXPECT_GE(ui.IDC_BOTTOM_SCREEN->width(), dialogUnits(128, 71, 39, 10).width());
    EXPECT_LE(ui.IDC_BOTH_SCREENS->geometry().right(), ui.IDC_TOP_SCREEN->x());
    EXPECT_LE(ui.IDC_QUALITY_LABEL->geometry().right(), ui.IDC_QUALITY->x());
    EXPECT_EQ(ui.IDC_CODEC_LIST->geometry().topLeft(), dialogUnits(7, 7, 0, 0).topLeft());
    EXPECT_EQ(ui.IDOK->text(), "&OK");
    EXPECT_TRUE(ui.IDOK->isDefault());
    EXPECT_EQ(ui.IDC_CONFIGURE->text(), "Con&figure...");
    EXPECT_EQ(ui.IDC_ABOUT->text(), "&About...");
    EXPECT_EQ(ui.IDC_BOTH_SCREENS->text(), "&Both screens");
    EXPECT_EQ(ui.IDC_TOP_SCREEN->text(), "&Top");
    EXPECT_EQ(ui.IDC_BOTTOM_SCREEN->text(), "Botto&m");
    EXPECT_EQ(ui.IDC_QUALITY_LABEL->text(), "Quality");
    EXPECT_EQ(ui.IDC_QUALITY->minimum(), 0);
    EXPECT_EQ(ui.IDC_QUALITY->maximum(), 100);
    EXPECT_EQ(ui.IDC_FPS->maximum(), 2);
    EXPECT_EQ(ui.IDC_QUALITY->tickPosition(), QSlider::NoTicks);
    const QStringList names = {"IDOK",           "IDCANCEL",         "IDC_CONFIGURE", "IDC_ABOUT",
                               "IDC_CODEC_LIST", "IDC_QUALITY",      "IDC_FPS",       "IDC_BOTH_SCREENS",
                               "IDC_TOP_SCREEN", "IDC_BOTTOM_SCREEN"};
    EXPECT_EQ(tabOrder(ui.IDOK, names), names);
    // Opened on the saved compressor, sorted list.
    EXPECT_EQ(ui.IDC_CODEC_LIST->count(), 3);
    EXPECT_EQ(ui.IDC_CODEC_LIST->itemText(0), "alpha codec");
    EXPECT_EQ(ui.IDC_CODEC_LIST->currentText(), "Fake Codec");
    EXPECT_TRUE(ui.IDC_BOTH_SCREENS->isChecked());
    EXPECT_EQ(ui.IDC_FPS_VALUE->text(), "30");
}

TEST_F(VideoDialogTest, QualityFiftyAndOk) {
    qt_record::VideoCodecDialog dialog(nullptr, settings, platform);
    dialog.ui().IDC_QUALITY->setValue(50);
    EXPECT_EQ(dialog.ui().IDC_QUALITY_VALUE->text(), "50");
    dialog.ui().IDC_TOP_SCREEN->setChecked(true);
    dialog.ui().IDOK->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.videoQuality, 0.5);
    EXPECT_EQ(settings.recordScreens, 1u);
}

TEST_F(VideoDialogTest, OddFrameRateBecomesThirtyAndTheSliderSurvivesCancel) {
    settings.recordFps = 25;
    {
        qt_record::VideoCodecDialog dialog(nullptr, settings, platform);
        EXPECT_EQ(dialog.ui().IDC_FPS_VALUE->text(), "30");
        EXPECT_EQ(dialog.ui().IDC_FPS->value(), 1);
        dialog.ui().IDCANCEL->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(settings.recordFps, 30);
    qt_record::VideoCodecDialog dialog(nullptr, settings, platform);
    dialog.ui().IDC_FPS->setValue(2);
    EXPECT_EQ(dialog.ui().IDC_FPS_VALUE->text(), "60");
    dialog.reject(); // closing the window counts as Cancel
    EXPECT_EQ(settings.recordFps, 60);
    EXPECT_EQ(settings.videoQuality, 0.85) << "nothing else was taken";
}

TEST_F(VideoDialogTest, ChoosingAnotherCompressorLooksItUp) {
    qt_record::VideoCodecDialog dialog(nullptr, settings, platform);
    auto* list = dialog.ui().IDC_CODEC_LIST;
    list->setCurrentIndex(2);
    emit list->activated(2);
    EXPECT_EQ(dynamic_cast<FakeCompressor*>(dialog.logic().dialogCodec())->name, "Fake Codec B");
    dialog.ui().IDOK->click();
    EXPECT_EQ(settings.videoCodec.utf8(), "Fake Codec B");
}

TEST(AudioDialogQt, ListsSelectsAndStores) {
    FakeMediaPlatform platform;
    platform.addAudioInput("Desk Microphone");
    platform.addAudioInput("Monitor of Speakers");
    platform.add<PcmFilter>(CLSID_AudioCompressorCategory, "PCM",
                            [] { return std::make_shared<PcmFilter>(); });
    base::Settings settings = base::Settings::defaults("");
    settings.audioSource.assign("monitor");
    qt_record::AudioSettingsDialog dialog(nullptr, settings, platform);
    auto& ui = dialog.ui();
    EXPECT_EQ(dialog.windowTitle(), "Audio Settings");
    EXPECT_EQ(dialog.size(), QSize(qRound(242 * 1.5), qRound(64 * 1.625)));
    EXPECT_EQ(ui.IDC_CONTROL_PANEL->geometry(), dialogUnits(7, 43, 60, 14));
    EXPECT_EQ(ui.IDC_CONTROL_PANEL->text(), "Control &Panel");
    EXPECT_FALSE(ui.IDC_AUDIO_COMPRESSOR->isEnabled());
    ASSERT_EQ(ui.IDC_AUDIO_SOURCE->count(), 3);
    EXPECT_EQ(ui.IDC_AUDIO_SOURCE->itemText(2), "(no sound)");
    EXPECT_EQ(ui.IDC_AUDIO_SOURCE->currentText(), "Monitor of Speakers");
    EXPECT_EQ(ui.IDC_AUDIO_COMPRESSOR->currentText(), "PCM");
    const QStringList names = {"IDOK", "IDCANCEL", "IDC_CONTROL_PANEL", "IDC_AUDIO_SOURCE"};
    EXPECT_EQ(tabOrder(ui.IDOK, names), names);

    int panels = 0;
    dialog.controlPanel = [&] { ++panels; };
    ui.IDC_CONTROL_PANEL->click();
    EXPECT_EQ(panels, 1);
    EXPECT_TRUE(dialog.isVisible() || dialog.result() == 0) << "Control Panel leaves the dialog open";

    ui.IDC_AUDIO_SOURCE->setCurrentIndex(2);
    ui.IDOK->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.audioSource.utf8(), "(no sound)");
    EXPECT_EQ(settings.audioCompressor.utf8(), "PCM");

    qt_record::AudioSettingsDialog cancelled(nullptr, settings, platform);
    cancelled.ui().IDC_AUDIO_SOURCE->setCurrentIndex(0);
    cancelled.ui().IDCANCEL->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(settings.audioSource.utf8(), "(no sound)");
    EXPECT_EQ(cancelled.findChild<QCheckBox*>("IDC_LISTEN"), nullptr) << "only where the build listens";
}

TEST(AudioDialogQt, ListenIsACheckBoxUnderTheListsStoredOnOk) {
    FakeMediaPlatform platform;
    platform.addAudioInput("Line In");
    base::Settings settings = base::Settings::defaults("");
    bool listen = true;
    qt_record::AudioSettingsDialog dialog(nullptr, settings, platform, {}, &listen);
    auto* box = dialog.findChild<QCheckBox*>("IDC_LISTEN");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "&Listen");
    EXPECT_TRUE(box->isChecked());
    const QRect panel = dialog.ui().IDC_CONTROL_PANEL->geometry();
    EXPECT_GT(box->geometry().top(), panel.bottom()) << "below everything that was there";
    EXPECT_EQ(box->geometry().left(), dialog.ui().IDC_AUDIO_SOURCE->geometry().left());
    EXPECT_LE(box->geometry().bottom(), dialog.height()) << "the dialog grew to hold it";
    EXPECT_GT(dialog.height(), qRound(64 * 1.625));

    box->click();
    EXPECT_TRUE(listen) << "not before OK";
    dialog.ui().IDOK->click();
    EXPECT_FALSE(listen);

    qt_record::AudioSettingsDialog again(nullptr, settings, platform, {}, &listen);
    again.findChild<QCheckBox*>("IDC_LISTEN")->click();
    again.ui().IDCANCEL->click();
    EXPECT_FALSE(listen) << "Cancel keeps it";
}

TEST(SoundControlPanel, PrefersPavucontrolsInputTabThenTheDesktops) {
    auto pick = [](std::vector<std::string> present) {
        return qt_record::soundSettingsCommand([&](const std::string& p) {
            return std::find(present.begin(), present.end(), p) != present.end();
        });
    };
    auto c = pick({"gnome-control-center", "pavucontrol"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->program, "pavucontrol");
    EXPECT_EQ(c->arguments, std::vector<std::string>{"--tab=2"});
    c = pick({"gnome-control-center"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->arguments, std::vector<std::string>{"sound"});
    EXPECT_FALSE(pick({}));

    // With nothing to start, the status line says so.
    if (!qt_record::soundSettingsCommand([](const std::string& p) {
            return !QStandardPaths::findExecutable(QString::fromStdString(p)).isEmpty();
        })) {
        std::string said;
        qt_record::openSoundControlPanel(nullptr, [&](const std::string& text) { said = text; });
        EXPECT_EQ(said, qt_record::kNoSoundSettingsText);
    }
}

TEST(CodecOptions, GeneratedFromTheEncodersOptions) {
    const media::EncoderInfo* ffv1 = media::findEncoder("FFV1 (lossless)");
    ASSERT_NE(ffv1, nullptr);
    media::FfmpegCompressor compressor(*ffv1, nullptr);
    const auto options = compressor.options();
    qt_record::CodecOptionsDialog dialog(nullptr, "FFV1 (lossless)", options);
    EXPECT_EQ(dialog.windowTitle(), "Configure FFV1 (lossless)");
    auto* coder = qobject_cast<QComboBox*>(dialog.field("coder"));
    ASSERT_NE(coder, nullptr) << "named values are a list";
    EXPECT_GE(coder->count(), 3);
    auto* context = qobject_cast<QSpinBox*>(dialog.field("context"));
    ASSERT_NE(context, nullptr) << "a plain number is a number field";
    EXPECT_EQ(context->maximum(), 1);
    // Untouched fields give their values back exactly.
    auto values = dialog.values();
    for (std::size_t i = 0; i < options.size(); ++i)
        EXPECT_EQ(values[i].value, options[i].value) << options[i].name;
    context->setValue(1);
    coder->setCurrentIndex(coder->findText("range_tab"));
    values = dialog.values();
    for (const auto& v : values) {
        if (v.name == "context") {
            EXPECT_EQ(v.value, "1");
        }
        if (v.name == "coder") {
            EXPECT_EQ(v.value, "2");
        }
    }
    dialog.restoreDefaults();
    EXPECT_EQ(context->value(), 0);
}

TEST(CodecOptions, ConfigureThroughTheHostChangesTheCompressorsState) {
    qt_record::QtCompressorDialogHost host;
    media::FfmpegCompressor compressor(*media::findEncoder("FFV1 (lossless)"), &host);
    QWidget owner;
    // The configuration dialog is modal: edit and confirm it once it shows.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<qt_record::CodecOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        qobject_cast<QSpinBox*>(dialog->field("context"))->setValue(1);
        dialog->accept();
    });
    EXPECT_EQ(compressor.ShowDialog(VfwCompressDialog_Config, &owner), S_OK);
    int32_t size = 0;
    compressor.GetState(nullptr, &size);
    std::string state(static_cast<std::size_t>(size), '\0');
    compressor.GetState(state.data(), &size);
    EXPECT_NE(state.find("context=1"), std::string::npos) << state;
}

TEST(RecordingSetup, WiresTheRecorderAndTheDialogsToOneSettingsRecord) {
    const tavrin::testing::TempDir folder;
    base::Settings settings = base::Settings::defaults("");
    settings.outputFolder.assign(folder.folder());
    settings.audioSource.assign("(no sound)");
    settings.videoCodec.assign("No Such Codec");
    QWidget window;
    std::vector<std::string> statuses;
    qt_record::RecordingSetup setup(
        &window, settings, [&](const std::string& s) { statuses.push_back(s); },
        [](record::CompressorDialogHost* host) { return std::make_unique<media::FfmpegPlatform>(host); });
    EXPECT_EQ(setup.control().recorderApp(), nullptr);

    // The saved compressor is missing: the start asks with the Video Codec dialog,
    // which picks FFV1 here and is confirmed.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<qt_record::VideoCodecDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->ui().IDC_CODEC_LIST;
        list->setCurrentIndex(list->findText("FFV1 (lossless)"));
        emit list->activated(list->currentIndex());
        dialog->ui().IDOK->click();
    });
    ASSERT_TRUE(setup.control().startRecording("00001.avi"));
    EXPECT_EQ(settings.videoCodec.utf8(), "FFV1 (lossless)");
    EXPECT_NE(setup.control().recorderApp(), nullptr);
    setup.control().stopRecording();
    // Into the folder of the same record (no picture came, so it kept no file).
    EXPECT_EQ(setup.control().updateRecordingStatus(), folder.folder() + "00001.avi\nStopped.");
}

} // namespace

int main(int argc, char** argv) {
    // Listing the tests happens without the test's environment: never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

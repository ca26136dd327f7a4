// SPDX-License-Identifier: GPL-2.0-or-later
// Shows the recording's dialogs on the real media library, for looking at them:
// tavrin-record-dialogs [video|audio|configure <compressor name>]. A development aid.
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/qt_record/AudioSettingsDialog.h"
#include "platform/qt_record/QtCompressorDialogHost.h"
#include "platform/qt_record/VideoCodecDialog.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

using namespace tavrin;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qt_record::QtCompressorDialogHost host;
    media::FfmpegPlatform platform(&host);
    base::Settings settings = base::Settings::defaults("");
    const char* what = argc > 1 ? argv[1] : "video";
    if (std::strcmp(what, "audio") == 0) {
        const int result =
            qt_record::runAudioSettingsDialog(nullptr, settings, platform, [](const std::string& text) {
                std::printf("status: %s\n", text.c_str());
            });
        std::printf("result %d, audioSource \"%s\", audioCompressor \"%s\"\n", result,
                    settings.audioSource.utf8().c_str(), settings.audioCompressor.utf8().c_str());
    } else if (std::strcmp(what, "configure") == 0 && argc > 2) {
        const media::EncoderInfo* info = media::findEncoder(argv[2]);
        if (!info) {
            std::fprintf(stderr, "no compressor named \"%s\"\n", argv[2]);
            return 1;
        }
        media::FfmpegCompressor compressor(*info, &host);
        compressor.ShowDialog(record::VfwCompressDialog_Config, nullptr);
    } else {
        const bool ok = qt_record::showVideoCodecDialog(nullptr, settings, platform);
        std::printf("%s: videoCodec \"%s\", quality %.2f, fps %d, screens %u, state %zu bytes\n",
                    ok ? "OK" : "Cancel", settings.videoCodec.utf8().c_str(), settings.videoQuality,
                    settings.recordFps, settings.recordScreens, settings.videoCodecSettings.size());
    }
    return 0;
}

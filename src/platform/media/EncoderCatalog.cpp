// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/EncoderCatalog.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tavrin::media {

std::vector<const EncoderInfo*> availableEncoders() {
    static const EncoderInfo known[] = {
        // msvideo1 has a fixed quality in libavcodec and takes 15-bit colour.
        {"Microsoft Video 1", "msvideo1", AV_PIX_FMT_RGB555LE, QualityMapping::None, false, 4, nullptr},
        {"FFV1 (lossless)", "ffv1", AV_PIX_FMT_BGR0, QualityMapping::None, true, 1, nullptr},
        {"HuffYUV (lossless)", "huffyuv", AV_PIX_FMT_RGB24, QualityMapping::None, true, 1, nullptr},
        {"Ut Video (lossless)", "utvideo", AV_PIX_FMT_GBRP, QualityMapping::None, true, 1, nullptr},
        {"MPEG-4 Part 2", "mpeg4", AV_PIX_FMT_YUV420P, QualityMapping::QScale, false, 2, nullptr},
        {"Motion JPEG", "mjpeg", AV_PIX_FMT_YUVJ420P, QualityMapping::QScale, false, 2, nullptr},
        // Given RGB, x264 would pick 4:4:4, which many players cannot show.
        {"H.264 (x264)", "libx264", AV_PIX_FMT_YUV420P, QualityMapping::X264Crf, false, 2, "veryfast"},
        {"H.264 RGB (x264)", "libx264rgb", AV_PIX_FMT_BGR24, QualityMapping::X264Crf, false, 1, "veryfast"},
    };
    std::vector<const EncoderInfo*> out;
    for (const EncoderInfo& info : known)
        if (avcodec_find_encoder_by_name(info.encoderName.c_str()))
            out.push_back(&info);
    return out;
}

const EncoderInfo* findEncoder(const std::string& friendlyName) {
    for (const EncoderInfo* info : availableEncoders())
        if (info->friendlyName == friendlyName)
            return info;
    return nullptr;
}

} // namespace tavrin::media

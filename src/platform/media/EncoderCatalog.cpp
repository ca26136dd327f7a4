// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/EncoderCatalog.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tavrin::media {

const std::vector<EncoderInfo>& knownEncoders() {
    static const std::vector<EncoderInfo> list = {
        // msvideo1 has a fixed quality in libavcodec and takes 15-bit colour.
        {"Microsoft Video 1", "msvideo1", AV_PIX_FMT_RGB555LE, QualityMapping::None, false, 4, {}},
        {"FFV1 (lossless)", "ffv1", AV_PIX_FMT_BGR0, QualityMapping::None, true, 1, {}},
        {"HuffYUV (lossless)", "huffyuv", AV_PIX_FMT_RGB24, QualityMapping::None, true, 1, {}},
        {"Ut Video (lossless)", "utvideo", AV_PIX_FMT_GBRP, QualityMapping::None, true, 1, {}},
        {"MPEG-4 Part 2", "mpeg4", AV_PIX_FMT_YUV420P, QualityMapping::QScale, false, 2, {}},
        {"Motion JPEG", "mjpeg", AV_PIX_FMT_YUVJ420P, QualityMapping::QScale, false, 2, {}},
        // Given RGB, x264 would pick 4:4:4, which many players cannot show.
        {"H.264 (x264)",
         "libx264",
         AV_PIX_FMT_YUV420P,
         QualityMapping::X264Crf,
         false,
         2,
         {{"preset", "veryfast"}}},
        {"H.264 RGB (x264)",
         "libx264rgb",
         AV_PIX_FMT_BGR24,
         QualityMapping::X264Crf,
         false,
         1,
         {{"preset", "veryfast"}}},
    };
    return list;
}

std::vector<const EncoderInfo*> availableEncoders() {
    std::vector<const EncoderInfo*> out;
    for (const EncoderInfo& info : knownEncoders())
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

void applyQuality(const EncoderInfo& info, AVCodecContext* context, double quality) {
    quality = std::clamp(quality, 0.0, 1.0);
    switch (info.quality) {
    case QualityMapping::None:
        break;
    case QualityMapping::QScale: {
        const int q = 31 - static_cast<int>(std::lround(quality * 29.0));
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = q * FF_QP2LAMBDA;
        break;
    }
    case QualityMapping::X264Crf:
        av_opt_set_double(context->priv_data, "crf", 51.0 - 41.0 * quality, 0);
        break;
    }
}

} // namespace tavrin::media

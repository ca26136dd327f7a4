// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/PcmFilter.h"

namespace tavrin::record {

bool PcmFilter::isPcm16(const MediaType& type) {
    if (!(type.majortype == MEDIATYPE_Audio) || !(type.subtype == MEDIASUBTYPE_PCM) ||
        !(type.formattype == FORMAT_WaveFormatEx))
        return false;
    auto wfx = type.formatAs<WAVEFORMATEX>();
    return wfx && wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->wBitsPerSample == 16 && wfx->nChannels > 0 &&
           wfx->nSamplesPerSec > 0 && wfx->nBlockAlign == wfx->nChannels * 2;
}

} // namespace tavrin::record

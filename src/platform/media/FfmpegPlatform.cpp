// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/FfmpegPlatform.h"

#include "platform/media/AviFile.h"
#include "platform/media/AviMux.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/PcmFilter.h"

#include <mutex>

namespace tavrin::media {

using namespace record;

FfmpegPlatform::FfmpegPlatform(CompressorDialogHost* dialogHost, Options options)
    : host_(dialogHost), options_(options) {
    ensureDevicesRegistered();
}

FfmpegPlatform::SoundInputs FfmpegPlatform::soundInputs() {
    std::lock_guard lock(soundMutex_);
    if (!soundInputs_)
        soundInputs_ = options_.probeSound ? options_.probeSound() : probeSoundInputs();
    return *soundInputs_;
}

void FfmpegPlatform::soundInputsMayHaveChanged() {
    std::lock_guard lock(soundMutex_);
    soundInputs_.reset();
}

bool FfmpegPlatform::soundServerAnswers() {
    if (options_.probeSound) {
        const SoundInputs inputs = soundInputs();
        return inputs.serverAnswered && !inputs.devices.empty();
    }
    SoundInputs found = probeSoundServer();
    if (!found.serverAnswered || found.devices.empty())
        return false;
    std::lock_guard lock(soundMutex_);
    soundInputs_ = std::move(found);
    return true;
}

std::string FfmpegPlatform::soundProblem() {
    const SoundInputs inputs = soundInputs();
    if (inputs.serverAnswered)
        return {};
    for (const AudioDevice& device : inputs.devices)
        if (!device.dummy)
            return {}; // no sound server, but a sound card to record from
    return "no sound server is running";
}

HRESULT FfmpegPlatform::CreateClassEnumerator(const GUID& category, std::vector<DeviceMoniker>* devices) {
    if (!devices)
        return E_POINTER;
    devices->clear();
    if (category == CLSID_VideoCompressorCategory) {
        for (const EncoderInfo* info : availableEncoders())
            devices->push_back({info->friendlyName, [info, host = host_]() -> std::shared_ptr<BaseFilter> {
                                    return std::make_shared<FfmpegCompressor>(*info, host);
                                }});
    } else if (category == CLSID_AudioCompressorCategory) {
        devices->push_back({std::string("PCM"),
                            []() -> std::shared_ptr<BaseFilter> { return std::make_shared<PcmFilter>(); }});
    } else if (category == CLSID_AudioInputDeviceCategory) {
        for (const AudioDevice& device : soundInputs().devices)
            devices->push_back({device.description,
                                [device]() -> std::shared_ptr<BaseFilter> {
                                    return std::make_shared<AudioCaptureFilter>(device);
                                },
                                device.dummy});
    } else {
        return E_INVALIDARG;
    }
    return devices->empty() ? S_FALSE : S_OK;
}

std::vector<std::string> FfmpegPlatform::recoverRecordings(const std::string& folder) {
    return media::recoverRecordings(folder);
}

base::Result<std::shared_ptr<RecordingSink>> FfmpegPlatform::CreateAviMux(const std::string& path) {
    auto mux = AviMux::create(path, options_.diskLimit);
    if (!mux)
        return mux.error();
    return std::shared_ptr<RecordingSink>(std::move(*mux));
}

} // namespace tavrin::media

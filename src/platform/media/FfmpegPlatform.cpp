// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/media/FfmpegPlatform.h"

#include "platform/media/AviFile.h"
#include "platform/media/AviMux.h"
#include "platform/media/EncoderCatalog.h"
#include "platform/media/FfmpegCompressor.h"
#include "record/PcmFilter.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <mutex>

namespace tavrin::media {

using namespace record;

void ensureDevicesRegistered() {
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        // The libraries' chatter stays off standard output; errors still show.
        av_log_set_level(AV_LOG_ERROR);
    });
}

namespace {

// ALSA lists its plugins beside the sound cards: "null" captures zeros, the rate
// converters, "jack", "oss", "pulse" and the like capture nothing without their server.
// Only a device on a card (its name says "CARD=") is a sensible default.
bool isDummy(const AudioDevice& device) {
    return device.inputFormat == "alsa" && device.deviceName.find("CARD=") == std::string::npos;
}

std::vector<AudioDevice> listInputs(const char* formatName, bool* answered = nullptr) {
    std::vector<AudioDevice> out;
    if (answered)
        *answered = false;
    const AVInputFormat* format = av_find_input_format(formatName);
    if (!format)
        return out;
    AVDeviceInfoList* list = nullptr;
    if (avdevice_list_input_sources(format, nullptr, nullptr, &list) < 0 || !list) {
        avdevice_free_list_devices(&list);
        return out;
    }
    if (answered)
        *answered = true;
    for (int i = 0; i < list->nb_devices; ++i) {
        const AVDeviceInfo* info = list->devices[i];
        if (!info || !info->device_name)
            continue;
        AudioDevice device;
        device.inputFormat = formatName;
        device.deviceName = info->device_name;
        std::string description = info->device_description ? info->device_description : info->device_name;
        // ALSA describes a device over several lines; the first names it.
        description = description.substr(0, description.find('\n'));
        device.description = description.empty() ? device.deviceName : description;
        device.dummy = isDummy(device);
        if (i == list->default_device && !device.dummy)
            out.insert(out.begin(), device);
        else
            out.push_back(device);
    }
    avdevice_free_list_devices(&list);
    std::stable_partition(out.begin(), out.end(), [](const AudioDevice& d) { return !d.dummy; });
    return out;
}

} // namespace

FfmpegPlatform::FfmpegPlatform(CompressorDialogHost* dialogHost, Options options)
    : host_(dialogHost), options_(options) {
    ensureDevicesRegistered();
}

FfmpegPlatform::SoundInputs FfmpegPlatform::probeSoundInputs() {
    ensureDevicesRegistered();
    SoundInputs found;
    found.devices = listInputs("pulse", &found.serverAnswered);
    if (found.devices.empty())
        found.devices = listInputs("alsa");
    return found;
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
    // Only the server is asked here: ALSA's listing waits for a need.
    ensureDevicesRegistered();
    SoundInputs found;
    found.devices = listInputs("pulse", &found.serverAnswered);
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

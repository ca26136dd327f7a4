// SPDX-License-Identifier: GPL-2.0-or-later
// Sound inputs through libavdevice: PulseAudio's sources, ALSA's devices when no
// server answers.
#include "platform/media/CodecTypes.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/media/SoundInput.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <mutex>

namespace tavrin::media {

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

class LibavSoundInput final : public SoundInput {
  public:
    explicit LibavSoundInput(AVFormatContext* input) : input_(input), packet_(av_packet_alloc()) {}
    ~LibavSoundInput() override {
        av_packet_free(&packet_);
        avformat_close_input(&input_);
    }

    Read read(std::vector<uint8_t>& bytes, std::string& error) override {
        const int err = packet_ ? av_read_frame(input_, packet_) : AVERROR(ENOMEM);
        if (err == AVERROR(EAGAIN))
            return Read::NothingYet;
        if (err < 0) {
            error = avErrorText(err);
            return Read::Failed;
        }
        bytes.insert(bytes.end(), packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
        return Read::Sound;
    }

  private:
    AVFormatContext* input_;
    AVPacket* packet_;
};

} // namespace

FfmpegPlatform::SoundInputs FfmpegPlatform::probeSoundInputs() {
    ensureDevicesRegistered();
    SoundInputs found;
    found.devices = listInputs("pulse", &found.serverAnswered);
    if (found.devices.empty())
        found.devices = listInputs("alsa");
    return found;
}

// Only the server is asked here: ALSA's listing waits for a need.
FfmpegPlatform::SoundInputs FfmpegPlatform::probeSoundServer() {
    ensureDevicesRegistered();
    SoundInputs found;
    found.devices = listInputs("pulse", &found.serverAnswered);
    return found;
}

base::Result<std::unique_ptr<SoundInput>> openSoundInput(const AudioDevice& device) {
    ensureDevicesRegistered();
    const AVInputFormat* format = av_find_input_format(device.inputFormat.c_str());
    if (!format)
        return base::Error::library(AVERROR_DEMUXER_NOT_FOUND, "no " + device.inputFormat + " input");
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", AudioCapturePin::kSampleRate, 0);
    av_dict_set_int(&options, "channels", AudioCapturePin::kChannels, 0);
    if (device.inputFormat == "pulse") {
        // 20 ms packets: small ones keep the reading close to the capture.
        av_dict_set_int(&options, "fragment_size",
                        AudioCapturePin::kSampleRate / 50 * AudioCapturePin::kBlockAlign, 0);
        av_dict_set(&options, "name", "Tavrin Capture", 0);
        av_dict_set(&options, "stream_name", "Recording", 0);
    }
    AVFormatContext* input = nullptr;
    const int err = avformat_open_input(&input, device.deviceName.c_str(), format, &options);
    av_dict_free(&options);
    if (err < 0)
        return base::Error::library(err, avErrorText(err));
    return std::unique_ptr<SoundInput>(std::make_unique<LibavSoundInput>(input));
}

} // namespace tavrin::media

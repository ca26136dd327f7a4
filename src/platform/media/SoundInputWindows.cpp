// SPDX-License-Identifier: GPL-2.0-or-later
// Sound inputs through WASAPI: the capture endpoints in shared mode, read by polling on
// the reader's thread and converted by libswresample to what the capture pin takes.
#ifdef _WIN32

#include "base/Diagnostics.h"
#include "platform/media/FfmpegPlatform.h"
#include "platform/media/SoundInput.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>
#include <mutex>

// After the core's headers: windows.h redefines names they use (see Win32Messages.h).
#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

namespace tavrin::media {

void ensureDevicesRegistered() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

namespace {

constexpr const char* kWasapi = "wasapi";
// PKEY_Device_FriendlyName, without the library that defines it.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
// What the endpoint buffers for us between two reads (100 ns units).
constexpr REFERENCE_TIME kBufferTime = 2'000'000;

template <typename T> struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    void reset() {
        if (p)
            p->Release();
        p = nullptr;
    }
    T** out() {
        reset();
        return &p;
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// The component runtime on the calling thread: the multithreaded apartment, or the
// apartment the thread has already (the window's thread has its own).
class ComScope {
  public:
    ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

  private:
    HRESULT hr_;
};

std::string utf8(const wchar_t* wide) {
    if (!wide)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.pop_back();
    return text;
}

std::wstring wide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string hresultText(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lx)", what, static_cast<unsigned long>(hr));
    return text;
}

std::string endpointId(IMMDevice* device) {
    wchar_t* id = nullptr;
    std::string text;
    if (SUCCEEDED(device->GetId(&id)))
        text = utf8(id);
    ::CoTaskMemFree(id);
    return text;
}

std::string friendlyName(IMMDevice* device) {
    ComPtr<IPropertyStore> store;
    std::string name;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.out())))
        return name;
    PROPVARIANT value;
    ::PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR)
        name = utf8(value.pwszVal);
    ::PropVariantClear(&value);
    return name;
}

// The sample layout of an endpoint's mix format, or AV_SAMPLE_FMT_NONE for one that
// the resampler does not take (packed 24-bit).
AVSampleFormat sampleFormatOf(const WAVEFORMATEX& format) {
    bool real = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool integer = format.wFormatTag == WAVE_FORMAT_PCM;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
        const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT and _PCM differ only in their first field.
        real = extensible.SubFormat.Data1 == WAVE_FORMAT_IEEE_FLOAT;
        integer = extensible.SubFormat.Data1 == WAVE_FORMAT_PCM;
    }
    if (real && format.wBitsPerSample == 32)
        return AV_SAMPLE_FMT_FLT;
    if (real && format.wBitsPerSample == 64)
        return AV_SAMPLE_FMT_DBL;
    if (integer && format.wBitsPerSample == 16)
        return AV_SAMPLE_FMT_S16;
    if (integer && format.wBitsPerSample == 32)
        return AV_SAMPLE_FMT_S32;
    if (integer && format.wBitsPerSample == 8)
        return AV_SAMPLE_FMT_U8;
    return AV_SAMPLE_FMT_NONE;
}

// One endpoint read in shared mode. Everything is made, used and let go on the reader's
// thread: it is opened at the first read, since the one who opens it (the window's
// thread, as the recording is set up) lives in an apartment of its own.
class WasapiSoundInput final : public SoundInput {
  public:
    explicit WasapiSoundInput(std::string id) : id_(std::move(id)) {}
    ~WasapiSoundInput() override {
        if (client_ && started_)
            client_->Stop();
        capture_.reset();
        client_.reset();
        swr_free(&swr_);
    }

    Read read(std::vector<uint8_t>& bytes, std::string& error) override {
        if (!com_) {
            com_ = std::make_unique<ComScope>();
            if (!com_->usable()) {
                error = "the component runtime cannot be used here";
                return Read::Failed;
            }
        }
        if (!client_) {
            error = open();
            return error.empty() ? Read::NothingYet : Read::Failed;
        }
        const std::size_t before = bytes.size();
        for (;;) {
            UINT32 waiting = 0;
            HRESULT hr = capture_->GetNextPacketSize(&waiting);
            if (FAILED(hr)) {
                error = hresultText("IAudioCaptureClient::GetNextPacketSize", hr);
                return Read::Failed;
            }
            if (waiting == 0)
                break;
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            hr = capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
            if (FAILED(hr)) {
                error = hresultText("IAudioCaptureClient::GetBuffer", hr);
                return Read::Failed;
            }
            if (flags & AUDCLNT_BUFFERFLAGS_SILENT) { // the endpoint says: zeros, whatever the buffer holds
                silence_.assign(static_cast<std::size_t>(frames) * inBlock_, 0);
                data = silence_.data();
            }
            convert(data, static_cast<int>(frames), bytes);
            capture_->ReleaseBuffer(frames);
        }
        return bytes.size() > before ? Read::Sound : Read::NothingYet;
    }

  private:
    // Empty when the endpoint runs; why not otherwise.
    std::string open() {
        ComPtr<IMMDeviceEnumerator> devices;
        ComPtr<IMMDevice> device;
        HRESULT hr =
            ::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                               __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(devices.out()));
        if (FAILED(hr))
            return hresultText("the endpoint enumerator", hr);
        const std::wstring id = wide(id_);
        if (FAILED(hr = devices->GetDevice(id.c_str(), device.out())))
            return hresultText("IMMDeviceEnumerator::GetDevice", hr);
        if (FAILED(hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                         reinterpret_cast<void**>(client_.out()))))
            return hresultText("IMMDevice::Activate", hr);
        WAVEFORMATEX* mix = nullptr;
        if (FAILED(hr = client_->GetMixFormat(&mix))) {
            client_.reset();
            return hresultText("IAudioClient::GetMixFormat", hr);
        }
        std::string problem = setUpConversion(*mix);
        if (problem.empty() &&
            FAILED(hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferTime, 0, mix, nullptr)))
            problem = hresultText("IAudioClient::Initialize", hr);
        ::CoTaskMemFree(mix);
        if (problem.empty() && FAILED(hr = client_->GetService(__uuidof(IAudioCaptureClient),
                                                               reinterpret_cast<void**>(capture_.out()))))
            problem = hresultText("IAudioClient::GetService", hr);
        if (problem.empty() && FAILED(hr = client_->Start()))
            problem = hresultText("IAudioClient::Start", hr);
        if (!problem.empty()) {
            capture_.reset();
            client_.reset();
            return problem;
        }
        started_ = true;
        return {};
    }

    std::string setUpConversion(const WAVEFORMATEX& mix) {
        const AVSampleFormat format = sampleFormatOf(mix);
        if (format == AV_SAMPLE_FMT_NONE || mix.nChannels == 0 || mix.nSamplesPerSec == 0)
            return "the input's sample format is not one this program reads";
        AVChannelLayout in{};
        av_channel_layout_default(&in, mix.nChannels);
        AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
        const int rc = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, AudioCapturePin::kSampleRate, &in,
                                           format, static_cast<int>(mix.nSamplesPerSec), 0, nullptr);
        av_channel_layout_uninit(&in);
        if (rc < 0 || swr_init(swr_) < 0) {
            swr_free(&swr_);
            return "the sound converter could not be set up";
        }
        inRate_ = static_cast<int>(mix.nSamplesPerSec);
        inBlock_ = mix.nBlockAlign;
        return {};
    }

    void convert(const uint8_t* data, int frames, std::vector<uint8_t>& bytes) {
        constexpr int block = AudioCapturePin::kBlockAlign;
        const int capacity =
            static_cast<int>(av_rescale_rnd(swr_get_delay(swr_, inRate_) + frames,
                                            AudioCapturePin::kSampleRate, inRate_, AV_ROUND_UP)) +
            16;
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(capacity) * block);
        uint8_t* to = bytes.data() + at;
        const int got = swr_convert(swr_, &to, capacity, &data, frames);
        bytes.resize(at + static_cast<std::size_t>(std::max(got, 0)) * block);
    }

    std::string id_;
    std::unique_ptr<ComScope> com_; // on the reader's thread, for as long as this reads
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioCaptureClient> capture_;
    bool started_ = false;
    SwrContext* swr_ = nullptr;
    int inRate_ = 0;
    int inBlock_ = 0;
    std::vector<uint8_t> silence_;
};

} // namespace

FfmpegPlatform::SoundInputs FfmpegPlatform::probeSoundInputs() {
    ensureDevicesRegistered();
    SoundInputs found;
    ComScope com;
    if (!com.usable())
        return found;
    ComPtr<IMMDeviceEnumerator> devices;
    ComPtr<IMMDeviceCollection> endpoints;
    if (FAILED(::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(devices.out()))) ||
        FAILED(devices->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, endpoints.out())))
        return found;
    found.serverAnswered = true;
    std::string defaultId;
    {
        ComPtr<IMMDevice> device;
        if (SUCCEEDED(devices->GetDefaultAudioEndpoint(eCapture, eConsole, device.out())))
            defaultId = endpointId(device.p);
    }
    UINT count = 0;
    endpoints->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(endpoints->Item(i, device.out())))
            continue;
        AudioDevice input;
        input.inputFormat = kWasapi;
        input.deviceName = endpointId(device.p);
        input.description = friendlyName(device.p);
        if (input.deviceName.empty())
            continue;
        if (input.description.empty())
            input.description = input.deviceName;
        // The system's default first, as on Linux.
        if (input.deviceName == defaultId)
            found.devices.insert(found.devices.begin(), input);
        else
            found.devices.push_back(input);
    }
    return found;
}

// The endpoint listing is quick: no need to ask less than everything.
FfmpegPlatform::SoundInputs FfmpegPlatform::probeSoundServer() {
    return probeSoundInputs();
}

base::Result<std::unique_ptr<SoundInput>> openSoundInput(const AudioDevice& device) {
    if (device.inputFormat != kWasapi)
        return base::Error::system(ENODEV, "no " + device.inputFormat + " input");
    return std::unique_ptr<SoundInput>(std::make_unique<WasapiSoundInput>(device.deviceName));
}

} // namespace tavrin::media

#endif

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/MediaInterfaces.h"
#include "record/MediaPlatform.h"
#include "record/RecordingSink.h"
#include "record/SourceStream.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::testing {

using namespace tavrin::record;

// A compressor with the quality and dialog interfaces of a real one; the fake
// file below takes the picture through it.
class FakeCompressor : public BaseFilter, public IAMVideoCompression, public IAMVfwCompressDialogs {
  public:
    explicit FakeCompressor(std::string name) : BaseFilter(GUID{0xFACE, 1, 2, {3}}), name(std::move(name)) {}

    HRESULT GetInfo(double* defaultQ, int32_t* caps) override {
        if (defaultQ)
            *defaultQ = defaultQuality;
        if (caps)
            *caps = canQuality ? CompressionCaps_CanQuality : 0;
        return getInfoResult;
    }
    HRESULT get_Quality(double* q) override {
        *q = quality;
        return getQualityResult;
    }
    HRESULT put_Quality(double q) override {
        quality = q;
        ++putQualityCalls;
        return S_OK;
    }
    HRESULT ShowDialog(int32_t dialog, void*) override {
        shownDialogs.push_back(dialog);
        if (dialog == VfwCompressDialog_QueryConfig)
            return configurable ? S_OK : S_FALSE;
        if (dialog == VfwCompressDialog_QueryAbout)
            return hasAbout ? S_OK : S_FALSE;
        if (dialog == VfwCompressDialog_Config)
            state = configuredState;
        return S_OK;
    }
    using BaseFilter::GetState;
    HRESULT GetState(void* buffer, int32_t* size) override {
        if (getStateFails)
            return E_FAIL;
        if (!buffer) {
            *size = static_cast<int32_t>(state.size());
            return S_OK;
        }
        std::memcpy(buffer, state.data(), state.size());
        *size = static_cast<int32_t>(state.size());
        return S_OK;
    }
    HRESULT SetState(const void* buffer, int32_t size) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        state.assign(p, p + size);
        ++setStateCalls;
        return setStateResult;
    }

    std::string name;
    bool canQuality = true;
    double defaultQuality = 0.75;
    double quality = -1;
    HRESULT getInfoResult = S_OK;
    HRESULT getQualityResult = S_OK;
    int putQualityCalls = 0;
    bool configurable = true;
    bool hasAbout = true;
    bool getStateFails = false;
    std::vector<uint8_t> state;
    std::vector<uint8_t> configuredState;
    int setStateCalls = 0;
    HRESULT setStateResult = S_OK;
    std::vector<int32_t> shownDialogs;
};

// A compressor without any of the compressor interfaces.
class BareCompressor : public BaseFilter {
  public:
    BareCompressor() : BaseFilter(GUID{0xBA4E, 1, 2, {3}}) {}
};

// The file: counts what arrives per stream, reports a settable size.
class FakeMux : public RecordingSink, public IConfigInterleaving, public IConfigAviMux {
  public:
    class Input : public SampleReceiver {
      public:
        Input(FakeMux* mux, GUID major, BaseFilter* through) : mux_(mux), major_(major), through_(through) {}
        HRESULT ReceiveConnection(const MediaType& type) override {
            if (!(type.majortype == major_) || (major_ == MEDIATYPE_Audio && mux_->refuseAudio))
                return VFW_E_TYPE_NOT_ACCEPTED;
            connected = true;
            return S_OK;
        }
        HRESULT Receive(MediaSample*) override {
            std::lock_guard lk(mux_->mutex);
            if (major_ == MEDIATYPE_Video && mux_->received["video"] == 0)
                mux_->events.push_back("video");
            ++mux_->received[major_ == MEDIATYPE_Video ? "video" : "audio"];
            if (auto* c = dynamic_cast<FakeCompressor*>(through_); c && major_ == MEDIATYPE_Video)
                mux_->videoThrough = c->name;
            return mux_->failReceive ? E_FAIL : S_OK;
        }
        HRESULT EndOfStream() override {
            std::lock_guard lk(mux_->mutex);
            mux_->events.push_back(major_ == MEDIATYPE_Video ? "video end" : "audio end");
            return S_OK;
        }
        bool connected = false;
        GUID major() const { return major_; }

      private:
        FakeMux* mux_;
        GUID major_;
        BaseFilter* through_;
    };

    SampleReceiver* inputFor(const GUID& major, BaseFilter* through) override {
        if (major == MEDIATYPE_Video && !through)
            return nullptr;
        inputs.push_back(std::make_unique<Input>(this, major, through));
        return inputs.back().get();
    }
    HRESULT start() override {
        std::lock_guard lk(mutex);
        events.push_back("start");
        return failPause ? E_FAIL : S_OK;
    }
    HRESULT stop() override {
        std::lock_guard lk(mutex);
        events.push_back("stop");
        ++stops;
        return S_OK;
    }
    void raise(int32_t code, const base::Error& error) { notify(code, error); }

    int connectedPins(const GUID& major) {
        int n = 0;
        for (auto& in : inputs)
            n += in->connected && in->major() == major;
        return n;
    }
    int count(const std::string& kind) {
        std::lock_guard lk(mutex);
        return received[kind];
    }

    HRESULT SetTimeFormat(const GUID& format) override {
        timeFormat = format;
        return S_OK;
    }
    HRESULT GetCurrentPosition(int64_t* position) override {
        *position = timeFormat == TIME_FORMAT_BYTE ? bytes.load() : 0;
        return S_OK;
    }
    HRESULT put_Mode(int32_t m) override {
        mode = m;
        return S_OK;
    }
    HRESULT SetMasterStream(int32_t s) override {
        master = s;
        return S_OK;
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<Input>> inputs;
    std::map<std::string, int> received;
    std::vector<std::string> events; // the file's header, first picture, ends, completion
    std::string videoThrough;
    std::atomic<int64_t> bytes{0};
    GUID timeFormat = TIME_FORMAT_MEDIA_TIME;
    int32_t mode = -7;
    int32_t master = -7;
    int stops = 0;
    bool refuseAudio = false;
    bool failPause = false;
    bool failReceive = false;
};

// A sound input that hands over a little silence every few milliseconds.
class FakeAudioSource : public CSource, public IAudioCaptureStatus {
  public:
    class Pin : public CSourceStream, public IKsPropertySet {
      public:
        explicit Pin(FakeAudioSource* f) : CSourceStream(f, "Capture", "tavrin-sound") {}
        HRESULT CheckMediaType(const MediaType* type) override {
            return type->majortype == MEDIATYPE_Audio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int32_t position, MediaType* type) override {
            if (position < 0)
                return E_INVALIDARG;
            if (position > 0)
                return VFW_S_NO_MORE_ITEMS;
            WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
            type->majortype = MEDIATYPE_Audio;
            type->subtype = MEDIASUBTYPE_PCM;
            type->bFixedSizeSamples = true;
            type->lSampleSize = 4;
            type->formattype = FORMAT_WaveFormatEx;
            type->setFormat(wfx);
            return S_OK;
        }
        HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
            props->cBuffers = 2;
            props->cbBuffer = 1920;
            props->cbAlign = 4;
            ALLOCATOR_PROPERTIES actual;
            return allocator->SetProperties(props, &actual);
        }
        HRESULT FillBuffer(MediaSample* sample) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            uint8_t* p;
            sample->GetPointer(&p);
            std::memset(p, 0, static_cast<std::size_t>(sample->GetSize()));
            return S_OK;
        }
        HRESULT Set(const GUID&, uint32_t, const void*, uint32_t, const void*, uint32_t) override {
            return E_NOTIMPL;
        }
        HRESULT Get(const GUID& set, uint32_t id, const void*, uint32_t, void* data, uint32_t size,
                    uint32_t* returned) override {
            if (!(set == AMPROPSETID_Pin) || id != 0)
                return E_PROP_SET_UNSUPPORTED;
            if (returned)
                *returned = sizeof(GUID);
            if (data && size >= sizeof(GUID))
                std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
            return S_OK;
        }
        HRESULT QuerySupported(const GUID&, uint32_t, uint32_t* s) override {
            if (s)
                *s = KSPROPERTY_SUPPORT_GET;
            return S_OK;
        }
    };

    explicit FakeAudioSource(std::string n) : CSource(GUID{0xA0D1, 1, 2, {3}}), name(std::move(n)) {
        pin = std::make_unique<Pin>(this);
    }
    ~FakeAudioSource() override {
        Stop();
        pin.reset();
    }
    HRESULT GetCaptureStatus(AudioCaptureStatus* s) override {
        *s = status;
        return S_OK;
    }
    std::string name;
    std::unique_ptr<Pin> pin;
    AudioCaptureStatus status;
};

// The devices of each category and the AVI writer, all in memory.
class FakeMediaPlatform : public MediaPlatform {
  public:
    struct Device {
        std::string name;
        std::function<std::shared_ptr<BaseFilter>()> make;
        bool dummy = false;
    };

    HRESULT CreateClassEnumerator(const GUID& category, std::vector<DeviceMoniker>* devices) override {
        ++enumerations;
        if (category == CLSID_AudioInputDeviceCategory)
            ++soundInputListings;
        devices->clear();
        for (auto& [cat, list] : categories) {
            if (!(cat == category))
                continue;
            for (auto& d : list)
                devices->push_back(
                    {d.name.empty() ? std::nullopt : std::optional<std::string>(d.name), d.make, d.dummy});
        }
        return devices->empty() ? S_FALSE : S_OK;
    }
    base::Result<std::shared_ptr<RecordingSink>> CreateAviMux(const std::string& path) override {
        paths.push_back(path);
        if (!muxError.empty())
            return base::Error::status(E_ACCESSDENIED, muxError);
        lastMux = std::make_shared<FakeMux>();
        lastMux->refuseAudio = refuseAudio;
        lastMux->failPause = failPause;
        return std::shared_ptr<RecordingSink>(lastMux);
    }
    std::string soundProblem() override { return soundProblemText; }
    bool soundServerAnswers() override { return serverAnswers; }
    void soundInputsMayHaveChanged() override {
        ++soundInputLooks;
        if (onSoundInputLook)
            onSoundInputLook();
    }

    // Adds a device; its filters are remembered in `made`.
    template <class F>
    void add(const GUID& category, const std::string& name, std::function<std::shared_ptr<F>()> make) {
        categories.emplace_back(category, std::vector<Device>{});
        auto& list = categories.back().second;
        list.push_back({name, [this, name, make]() -> std::shared_ptr<BaseFilter> {
                            auto f = make();
                            made[name] = f;
                            return f;
                        }});
    }
    std::shared_ptr<FakeCompressor> addCompressor(const std::string& name) {
        add<FakeCompressor>(CLSID_VideoCompressorCategory, name,
                            [name] { return std::make_shared<FakeCompressor>(name); });
        return nullptr;
    }
    void addAudioInput(const std::string& name, bool dummy = false) {
        add<FakeAudioSource>(CLSID_AudioInputDeviceCategory, name,
                             [name] { return std::make_shared<FakeAudioSource>(name); });
        categories.back().second.back().dummy = dummy;
    }

    std::vector<std::pair<GUID, std::vector<Device>>> categories;
    std::map<std::string, std::weak_ptr<BaseFilter>> made;
    std::vector<std::string> paths;
    std::shared_ptr<FakeMux> lastMux;
    std::string muxError;
    bool refuseAudio = false;
    bool failPause = false;
    int enumerations = 0;
    int soundInputListings = 0;
    // Asked to look at the sound inputs again; what the system shows then (a plug-in).
    int soundInputLooks = 0;
    std::function<void()> onSoundInputLook;
    std::string soundProblemText;
    bool serverAnswers = false;
};

} // namespace tavrin::testing

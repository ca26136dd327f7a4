// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/BaseFilter.h"
#include "record/BaseInputPin.h"
#include "record/MediaInterfaces.h"
#include "record/MediaPlatform.h"
#include "record/Source.h"
#include "record/SourceStream.h"
#include "record/TransformFilter.h"

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

// A compressor that passes RGB24 through under a code of its own, with the
// quality and dialog interfaces of a real one.
class FakeCompressor : public TransformFilter, public IAMVfwCompressDialogs {
  public:
    class OutPin : public TransformOutputPin, public IAMVideoCompression {
      public:
        OutPin(FakeCompressor* f, std::recursive_mutex* lock) : TransformOutputPin(f, lock), owner_(f) {}
        HRESULT GetInfo(std::string*, std::string*, int32_t*, int32_t*, double* defaultQuality,
                        int32_t* caps) override {
            if (defaultQuality)
                *defaultQuality = owner_->defaultQuality;
            if (caps)
                *caps = owner_->canQuality ? CompressionCaps_CanQuality : 0;
            return owner_->getInfoResult;
        }
        HRESULT get_Quality(double* q) override {
            *q = owner_->quality;
            return owner_->getQualityResult;
        }
        HRESULT put_Quality(double q) override {
            owner_->quality = q;
            ++owner_->putQualityCalls;
            return S_OK;
        }

      private:
        FakeCompressor* owner_;
    };

    explicit FakeCompressor(std::string name)
        : TransformFilter(GUID{0xFACE, 1, 2, {3}}), name(std::move(name)) {
        replaceOutputPin(std::make_unique<OutPin>(this, &filterLock_));
    }

    HRESULT CheckInputType(const MediaType* in) override {
        return in->majortype == MEDIATYPE_Video && in->subtype == MEDIASUBTYPE_RGB24 &&
                       in->formatAs<VIDEOINFOHEADER>() &&
                       in->formatAs<VIDEOINFOHEADER>()->bmiHeader.biWidth > 0
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const MediaType*, const MediaType* out) override {
        return out->subtype == fourccSubtype(makeFourcc('F', 'A', 'K', 'E')) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetOutputType(int32_t position, MediaType* type) override {
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = input_.connectionType();
        type->subtype = fourccSubtype(makeFourcc('F', 'A', 'K', 'E'));
        return S_OK;
    }
    HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
        props->cBuffers = 2;
        props->cbBuffer = static_cast<int32_t>(input_.connectionType().lSampleSize);
        props->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(props, &actual);
    }
    HRESULT Transform(MediaSample* in) override {
        SamplePtr out;
        HRESULT hr = output_->GetDeliveryBuffer(&out);
        if (FAILED(hr))
            return hr;
        uint8_t *src, *dst;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        const int32_t n = std::min(in->GetActualDataLength(), out->GetSize());
        std::memcpy(dst, src, static_cast<std::size_t>(n));
        out->SetActualDataLength(n);
        REFERENCE_TIME s = 0, e = 0;
        in->GetTime(&s, &e);
        out->SetTime(&s, &e);
        return output_->Deliver(out.get());
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
    using TransformFilter::GetState;
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
class BareCompressor : public TransformFilter {
  public:
    BareCompressor() : TransformFilter(GUID{0xBA4E, 1, 2, {3}}) {}
    HRESULT CheckInputType(const MediaType* in) override {
        return in->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const MediaType*, const MediaType*) override { return S_OK; }
    HRESULT GetOutputType(int32_t position, MediaType* type) override {
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = input_.connectionType();
        return S_OK;
    }
    HRESULT DecideBufferSize(MemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
        props->cBuffers = 1;
        props->cbBuffer = std::max<int32_t>(1, static_cast<int32_t>(input_.connectionType().lSampleSize));
        props->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(props, &actual);
    }
    HRESULT Transform(MediaSample*) override { return S_OK; }
};

// The multiplexer and file: counts what arrives per stream, reports a settable size.
class FakeMux : public BaseFilter, public IMediaSeeking, public IConfigInterleaving, public IConfigAviMux {
  public:
    class Pin : public BaseInputPin {
      public:
        Pin(FakeMux* mux, std::string name) : BaseInputPin(mux, &mux->lock, std::move(name)), mux_(mux) {}
        HRESULT CheckMediaType(const MediaType* type) override {
            if (type->majortype == MEDIATYPE_Audio && mux_->refuseAudio)
                return VFW_E_TYPE_NOT_ACCEPTED;
            return S_OK;
        }
        HRESULT Receive(MediaSample* sample) override {
            HRESULT hr = BaseInputPin::Receive(sample);
            if (hr != S_OK)
                return hr;
            std::lock_guard lk(mux_->mutex);
            ++mux_->received[connectionType().majortype == MEDIATYPE_Video ? "video" : "audio"];
            if (connectionType().majortype == MEDIATYPE_Video)
                mux_->videoSubtypes.push_back(connectionType().subtype);
            return mux_->failReceive ? E_FAIL : S_OK;
        }
        HRESULT CompleteConnect(BasePin*) override {
            mux_->addPinIfNeeded();
            return S_OK;
        }

      private:
        FakeMux* mux_;
    };

    FakeMux() : BaseFilter(GUID{0x3078, 1, 2, {3}}, &lock) {
        pins.push_back(std::make_unique<Pin>(this, "Input 01"));
    }

    int GetPinCount() override { return static_cast<int>(pins.size()); }
    BasePin* GetPin(int n) override { return n >= 0 && n < GetPinCount() ? pins[n].get() : nullptr; }
    HRESULT Pause() override { return failPause ? E_FAIL : BaseFilter::Pause(); }

    void addPinIfNeeded() {
        for (auto& p : pins)
            if (!p->IsConnected())
                return;
        pins.push_back(std::make_unique<Pin>(this, "Input 0" + std::to_string(pins.size() + 1)));
    }
    int connectedPins(const GUID& major) {
        int n = 0;
        for (auto& p : pins)
            n += p->IsConnected() && p->connectionType().majortype == major;
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
    HRESULT get_Mode(int32_t* m) override {
        *m = mode;
        return S_OK;
    }
    HRESULT SetMasterStream(int32_t s) override {
        master = s;
        return S_OK;
    }
    HRESULT GetMasterStream(int32_t* s) override {
        *s = master;
        return S_OK;
    }

    std::recursive_mutex lock;
    std::mutex mutex;
    std::vector<std::unique_ptr<Pin>> pins;
    std::map<std::string, int> received;
    std::vector<GUID> videoSubtypes;
    std::atomic<int64_t> bytes{0};
    GUID timeFormat = TIME_FORMAT_MEDIA_TIME;
    int32_t mode = -7;
    int32_t master = -7;
    bool refuseAudio = false;
    bool failPause = false;
    bool failReceive = false;
};

// A sound input that hands over a little silence every few milliseconds.
class FakeAudioSource : public CSource, public IAudioCaptureStatus {
  public:
    class Pin : public CSourceStream, public IKsPropertySet {
      public:
        explicit Pin(FakeAudioSource* f) : CSourceStream(f, "Capture") {}
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
    HRESULT CreateAviMux(const std::string& path, std::shared_ptr<BaseFilter>* out,
                         std::string* error) override {
        paths.push_back(path);
        if (!muxError.empty()) {
            *error = muxError;
            return E_ACCESSDENIED;
        }
        lastMux = std::make_shared<FakeMux>();
        lastMux->refuseAudio = refuseAudio;
        lastMux->failPause = failPause;
        *out = lastMux;
        return S_OK;
    }
    std::string soundProblem() override { return soundProblemText; }

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
    std::string soundProblemText;
};

} // namespace tavrin::testing

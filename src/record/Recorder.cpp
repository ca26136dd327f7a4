// SPDX-License-Identifier: GPL-2.0-or-later
#include "record/Recorder.h"

#include "base/Diagnostics.h"
#include "record/DeviceEnum.h"
#include "record/ListText.h"
#include "record/RecordedArea.h"
#include "record/SoundChoice.h"
#include "record/TavrinFilter.h"

#include <chrono>
#include <cstdio>

namespace tavrin::record {

namespace {

constexpr std::size_t kMaxFileNameUnits = 31;

template <class I, class T> std::shared_ptr<I> query(const std::shared_ptr<T>& object) {
    if (auto* p = dynamic_cast<I*>(object.get()))
        return std::shared_ptr<I>(object, p);
    return nullptr;
}

} // namespace

uint32_t firstFourBytes(const std::vector<uint8_t>& blob) {
    uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(i < blob.size() ? blob[i] : 0) << (8 * i);
    return v;
}

std::shared_ptr<BaseFilter> findVideoCompressor(MediaPlatform& platform, const base::Settings& settings,
                                                const std::string& name) {
    std::string wanted = name;
    std::shared_ptr<BaseFilter> filter =
        findDevice(platform, &wanted, CLSID_VideoCompressorCategory, matchFriendlyName);
    if (!filter)
        return nullptr;
    if (name == settings.videoCodec.utf8()) {
        const double quality = settings.videoQuality;
        int32_t caps = 0;
        if (auto* compression = dynamic_cast<IAMVideoCompression*>(filter.get()))
            if (SUCCEEDED(compression->GetInfo(nullptr, &caps)) && (caps & CompressionCaps_CanQuality))
                compression->put_Quality(quality);
        const auto& blob = settings.videoCodecSettings;
        auto* dialogs = dynamic_cast<IAMVfwCompressDialogs*>(filter.get());
        if (!blob.empty() && dialogs) {
            int32_t size = 0;
            dialogs->GetState(nullptr, &size);
            const HRESULT hr = dialogs->SetState(blob.data(), static_cast<int32_t>(blob.size()));
            base::recordLog.debug("getFilter:SetState(%08X.., %d)=%X\n", firstFourBytes(blob),
                                  static_cast<int>(blob.size()), static_cast<unsigned>(hr));
        }
    }
    return filter;
}

uint32_t systemMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string formatRecordingStatus(const std::string& folder, const std::string& fileName, int64_t lastTime,
                                  int64_t bytes, int64_t samples, uint32_t now, uint32_t& statusTime,
                                  uint32_t& statusKiB) {
    int64_t t = lastTime;
    const uint32_t secs = static_cast<uint32_t>(t / 10000000);
    const uint32_t hours = secs / 3600;
    const uint32_t minutes = (secs / 60) % 60;
    const uint32_t seconds = secs % 60;
    if (t == 0)
        t = 1; // only a divisor from here on
    const uint32_t kib = static_cast<uint32_t>(bytes >> 10);
    const float fps = static_cast<float>(static_cast<double>(samples) * 10000000.0 / static_cast<double>(t));
    uint32_t rate = 0;
    if (statusTime != 0 && now != statusTime)
        rate = ((kib - statusKiB) * 1000u) / (now - statusTime);
    statusKiB = kib;
    statusTime = now;
    char line[256];
    std::snprintf(line, sizeof line, "%02u:%02u:%02u, %u MB (%u kB/s), %.2f FPS", hours, minutes, seconds,
                  kib >> 10, rate, static_cast<double>(fps));
    return folder + fileName + "\n" + line;
}

Recorder::Recorder(MediaPlatform& platform, base::Settings& settings, RecordingDialogs* dialogs,
                   std::shared_ptr<ReferenceClock> clock, std::function<uint32_t()> milliseconds)
    : platform_(platform), settings_(settings), dialogs_(dialogs), clock_(std::move(clock)),
      milliseconds_(std::move(milliseconds)) {}

Recorder::~Recorder() {
    stopRecording();
}

std::shared_ptr<BaseFilter> Recorder::findVideoCompressor(const std::string& name) {
    return record::findVideoCompressor(platform_, settings_, name);
}

bool Recorder::failStart(const std::string& why) {
    if (!takeGraphFailure() && !failure_)
        failure_ = base::Error::status(E_FAIL, why);
    stopRecording();
    return false;
}

bool Recorder::takeGraphFailure() {
    if (!captureBuilder_)
        return false;
    bool failed = false;
    GraphEvent event;
    while (captureBuilder_->GetEvent(&event)) {
        if (event.code == EC_ERRORABORT && !failed) {
            failure_ = event.error; // the first failure is the cause
            failed = true;
        }
    }
    return failed;
}

std::string Recorder::missingSoundNote() {
    // A saved name that no device has is how the user turns sound off, unless it names a
    // device that was there and is gone (the list may show why).
    const std::string source = settings_.audioSource.utf8();
    if (source == kNoSoundItem)
        return {};
    std::vector<std::string> names;
    findDevice(platform_, &names, CLSID_AudioInputDeviceCategory, listFriendlyName);
    const std::string problem = platform_.soundProblem();
    if (source.empty())
        return problem.empty() ? "no sound input was found" : problem;
    if (!problem.empty())
        return problem;
    return names.empty() ? "no sound input was found" : "\"" + source + "\" is not connected";
}

bool Recorder::startRecording(const std::string& fileName) {
    statusTime_ = 0;
    statusKiB_ = 0;
    stopRecording();
    failure_ = {};
    soundNote_.clear();
    slotReportTime_ = 0;
    recordFileName_ = clipUnits(fileName, kMaxFileNameUnits);

    auto graph = std::make_shared<RecordingGraph>(&platform_, clock_);
    RecordingGraph* builder = graph.get();
    captureBuilder_ = graph;

    const std::string path = settings_.outputFolder.utf8() + recordFileName_;
    std::shared_ptr<RecordingSink> mux;
    if (const base::Error error = builder->SetOutputFileName(MEDIASUBTYPE_Avi, path, &mux))
        return failStart(error.text);
    muxSeeking_ = mux;

    std::shared_ptr<BaseFilter> source = TavrinFilter::CreateInstance(settings_.recordFps);
    if (!source || FAILED(graph->AddFilter(source, "videoSource")))
        return failStart("The video source could not be made.");
    recorderApp_ = query<ITavrinCaptureApp>(source);
    if (!recorderApp_)
        return failStart("The video source could not be made.");

    const RecordedArea area = recordedArea(settings_.recordScreens, settings_.displayMode);
    recorderApp_->setArea(area.width, area.height, area.offset);

    std::shared_ptr<BaseFilter> compressor = findVideoCompressor(settings_.videoCodec.utf8());
    if (!compressor) {
        if (!dialogs_ || !dialogs_->showVideoCodecDialog())
            return failStart("No video compressor was chosen.");
        compressor = findVideoCompressor(settings_.videoCodec.utf8());
        if (!compressor)
            return failStart("The video compressor \"" + settings_.videoCodec.utf8() +
                             "\" is not available.");
    }
    if (FAILED(graph->AddFilter(compressor, "videoCompressor")))
        return failStart("The video compressor could not be added.");
    if (FAILED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.get(), compressor.get(),
                                     mux.get())))
        return failStart("The video compressor \"" + settings_.videoCodec.utf8() +
                         "\" does not take this picture.");

    std::shared_ptr<BaseFilter> audioIn = findSoundInput();
    std::string pcmName = "PCM";
    std::shared_ptr<BaseFilter> pcm =
        findDevice(platform_, &pcmName, CLSID_AudioCompressorCategory, matchFriendlyName);
    if (audioIn) {
        if (pcm && FAILED(graph->AddFilter(pcm, "audioCompressor")))
            return failStart("The sound compressor could not be added.");
        if (FAILED(graph->AddFilter(audioIn, "audioSource")))
            return failStart("The sound input could not be added.");
        if (FAILED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, audioIn.get(), pcm.get(),
                                         mux.get())))
            return failStart("The sound input could not be connected.");
        if (auto interleaving = query<IConfigInterleaving>(mux))
            interleaving->put_Mode(INTERLEAVE_NONE_BUFFERED);
        if (auto aviMux = query<IConfigAviMux>(mux))
            aviMux->SetMasterStream(-1);
        audioStatus_ = query<IAudioCaptureStatus>(audioIn);
    } else {
        base::recordLog.warning("getAudioSource failed\n");
        soundNote_ = missingSoundNote();
        if (!soundNote_.empty())
            base::recordLog.warning("Recording without sound: %s\n", soundNote_.c_str());
    }

    mediaControl_ = graph;
    if (FAILED(mediaControl_->Run())) {
        base::recordLog.error("pControl->Run() failed\n");
        return failStart("The recording could not start.");
    }
    return true;
}

void Recorder::stopRecording() {
    if (recorderApp_)
        recorderApp_->stop();
    if (mediaControl_)
        mediaControl_->Stop();
    if (captureBuilder_ && !failure_)
        takeGraphFailure(); // a failure while stopping (the file's last writes) is still news
    recorderApp_.reset();
    captureBuilder_.reset();
    mediaControl_.reset();
    muxSeeking_.reset();
    audioStatus_.reset();
}

std::shared_ptr<BaseFilter> Recorder::findSoundInput() {
    std::string wanted = settings_.audioSource.utf8();
    if (wanted == kNoSoundItem)
        return nullptr; // sound turned off: no need to look at the inputs at all
    const auto find = [&] {
        return wanted.empty()
                   ? findDevice(platform_, nullptr, CLSID_AudioInputDeviceCategory, takeFirstDevice)
                   : findDevice(platform_, &wanted, CLSID_AudioInputDeviceCategory, matchFriendlyName);
    };
    if (auto input = find())
        return input;
    // The platform keeps the inputs it found last time: one plugged in since is looked for
    // once more (and only then: each recording after that finds it in the list).
    platform_.soundInputsMayHaveChanged();
    return find();
}

void Recorder::prepareSoundInput() {
    // The input opens as its filter is made and stays open after the filter is gone, so
    // the first recording has sound from its click. Only where a sound server lists the
    // inputs: without one the listing is ALSA's burst of device opens, which waits for a
    // need (the audio settings, a recording).
    if (settings_.audioSource.utf8() != kNoSoundItem && platform_.soundServerAnswers())
        findSoundInput();
}

std::string Recorder::recoverRecordings() {
    std::string note;
    for (const std::string& name : platform_.recoverRecordings(settings_.outputFolder.utf8()))
        note += (note.empty() ? "Recovered " : ", ") + name;
    return note;
}

bool Recorder::soundStatus(AudioCaptureStatus* status) const {
    return audioStatus_ && status && SUCCEEDED(audioStatus_->GetCaptureStatus(status));
}

std::string Recorder::updateRecordingStatus() {
    // A filter that failed (a full disk, a lost device) ends the recording; the file
    // keeps what was written, and the status line says why.
    if (mediaControl_ && takeGraphFailure())
        stopRecording();

    std::string statusText = settings_.outputFolder.utf8() + recordFileName_ + "\nStopped.";
    if (failure_)
        statusText += " " + failure_.text;
    if (!mediaControl_ || !muxSeeking_ || !recorderApp_)
        return statusText;
    FILTER_STATE state = State_Stopped;
    mediaControl_->GetState(100, &state);
    if (state != State_Running)
        return statusText;

    int64_t lastTime = 0;
    recorderApp_->getStatistic(STAT_LAST_TIME, &lastTime);
    int64_t bytes = 0;
    muxSeeking_->SetTimeFormat(TIME_FORMAT_BYTE);
    muxSeeking_->GetCurrentPosition(&bytes);
    int64_t samples = 0;
    recorderApp_->getStatistic(STAT_SAMPLES, &samples);
    const uint32_t now = milliseconds_();
    statusText = formatRecordingStatus(settings_.outputFolder.utf8(), recordFileName_, lastTime, bytes,
                                       samples, now, statusTime_, statusKiB_);
    // What the usual figures do not show: slots of the grid left empty, and sound trouble.
    int64_t skipped = 0;
    recorderApp_->getStatistic(STAT_SKIPPED, &skipped);
    if (skipped > 0)
        statusText += ", " + std::to_string(skipped) + " empty slots";
    AudioCaptureStatus sound;
    if (soundStatus(&sound) && sound.lost)
        statusText += ", sound lost";
    else if (!soundNote_.empty())
        statusText += ", no sound (" + soundNote_ + ")";
    if (slotReportTime_ == 0 || now - slotReportTime_ >= 1000) {
        slotReportTime_ = now;
        const int64_t slots = samples + skipped;
        base::recordLog.info("recording: %lld slots, %lld empty (%.2f%%)\n", static_cast<long long>(slots),
                             static_cast<long long>(skipped),
                             slots > 0 ? 100.0 * static_cast<double>(skipped) / static_cast<double>(slots)
                                       : 0.0);
    }
    return statusText;
}

} // namespace tavrin::record

#include "screenshot/Screenshots.h"

#include "device/FrameQueue.h"
#include "screenshot/NumberedName.h"
#include "screenshot/SavePng.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <thread>
#include <unistd.h>

namespace tavrin::screenshot {

namespace {

// UTF-16 units needed for a UTF-8 path: one per character, two above U+FFFF.
std::size_t utf16Units(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            ++units;
        if (c >= 0xF0)
            ++units;
    }
    return units;
}

} // namespace

bool startDetachedWorker(std::function<void()> body) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (...) {
        return false;
    }
}

Screenshots::Screenshots(OutputFolder& folder, uint32_t& pngCounter, uint32_t& aviCounter,
                         app::StatusLine& status, FolderChooser& chooser, PngEncoder& encoder,
                         WorkerStarter starter)
    : folder_(folder), pngCounter_(pngCounter), aviCounter_(aviCounter), status_(status), chooser_(chooser),
      encoder_(encoder), starter_(std::move(starter)) {}

Screenshots::~Screenshots() {
    std::unique_lock lk(workersMutex_);
    workersIdle_.wait(lk, [this] { return activeWorkers_ == 0; });
}

bool Screenshots::waitForWorkers(std::chrono::milliseconds limit) {
    std::unique_lock lk(workersMutex_);
    return workersIdle_.wait_for(lk, limit, [this] { return activeWorkers_ == 0; });
}

void Screenshots::workerEnded() {
    // Notified under the lock: once it is released the destructor may run.
    std::lock_guard lk(workersMutex_);
    --activeWorkers_;
    workersIdle_.notify_all();
}

void Screenshots::startScreenshot(device::CaptureFrame& frame) {
    const int width = frame.layout.width;
    const int height = frame.layout.height;
    const std::size_t pixelCount = width > 0 && height > 0 ? std::size_t(width) * std::size_t(height) : 0;
    // A frame that was never converted has no picture to save.
    if (pixelCount == 0 || frame.image.size() < pixelCount * 4) {
        status_.setStatusText(kPngSaveFailed);
        return;
    }

    std::unique_ptr<ScreenshotJob> job(new (std::nothrow) ScreenshotJob);
    if (job)
        job->pixels.reset(new (std::nothrow) uint8_t[pixelCount * 3]);
    if (!job || !job->pixels) {
        status_.setStatusText(kPngSaveFailed);
        return;
    }
    job->width = width;
    job->height = height;
    job->folder = folder_.outputFolder();

    const std::string name = nextNumberedName(pngCounter_, ".png", job->folder);
    if (name.empty() || name.size() >= sizeof job->name) {
        // Every name up to the limit exists: overwriting one is never the answer.
        status_.setStatusText(kPngSaveFailed);
        return;
    }
    std::memcpy(job->name, name.c_str(), name.size() + 1);

    job->frame = &frame;
    device::addFrameRef(frame);
    {
        std::lock_guard lk(workersMutex_);
        ++activeWorkers_;
    }
    ScreenshotJob* owned = job.release();
    if (!starter_([this, owned] { screenshotWorker(owned); })) {
        device::releaseFrame(frame);
        delete owned;
        workerEnded();
        status_.setStatusText(kPngSaveFailed);
    }
}

void Screenshots::screenshotWorker(ScreenshotJob* job) {
    const uint8_t* src = job->frame->image.data();
    uint8_t* dst = job->pixels.get();
    const std::size_t pixelCount = std::size_t(job->width) * std::size_t(job->height);
    for (std::size_t i = 0; i < pixelCount; ++i, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
    device::releaseFrame(*job->frame);
    job->frame = nullptr;

    const std::string path = job->folder + job->name;
    const int result = savePng(encoder_, path, job->pixels.get(), job->width, job->height);
    status_.setStatusText(result == 0 ? "Saved " + path : std::string(kPngSaveFailed));
    delete job;
    workerEnded();
}

void Screenshots::chooseOutputFolder() {
    std::string path = chooser_.chooseFolder(kChooseFolderTitle, folder_.outputFolder());
    if (path.empty())
        return;
    if (path.back() != '/')
        path.push_back('/');
    // A shortened path would name another folder: refuse it instead.
    if (utf16Units(path) > kMaxOutputFolderUnits) {
        status_.setStatusText("Output folder not changed: its path is longer than 259 characters.");
        return;
    }
    // Recordings name their files relative to the current directory, so the
    // folder is taken only when it can become that directory.
    if (::chdir(path.c_str()) != 0) {
        status_.setStatusText("Output folder not changed: cannot open " + path + " (" + std::strerror(errno) +
                              ").");
        return;
    }
    folder_.setOutputFolder(path);
    aviCounter_ = 0;
    pngCounter_ = 0;
}

} // namespace tavrin::screenshot

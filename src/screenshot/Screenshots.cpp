// SPDX-License-Identifier: GPL-2.0-or-later
#include "screenshot/Screenshots.h"

#include "base/Diagnostics.h"
#include "screenshot/NumberedName.h"
#include "screenshot/SavePng.h"

#include <cstring>
#include <new>

namespace tavrin::screenshot {

namespace {
// An ended worker's thread has returned from its body; joining it takes no time.
constexpr auto kEndedJoin = std::chrono::milliseconds(1000);
} // namespace

Screenshots::Screenshots(base::Settings& settings, base::UserFolders& folders, uint32_t& pngCounter,
                         uint32_t& aviCounter, base::StatusLine& status, FolderChooser& chooser,
                         PngEncoder& encoder, WorkerStarter starter)
    : settings_(settings), folders_(folders), pngCounter_(pngCounter), aviCounter_(aviCounter),
      status_(status), chooser_(chooser), encoder_(encoder), starter_(std::move(starter)) {}

Screenshots::~Screenshots() {
    // In steps, naming the wait: a notification lost on the way costs one step.
    while (!waitForWorkers(base::Worker::kDestroyWarning))
        base::screenshotLog.warning("still waiting for screenshots being saved\n");
}

bool Screenshots::startOwnWorker(std::function<void()> body) {
    // Called on the control window's thread: joining ended workers does not wait.
    std::erase_if(workers_, [](base::Worker& worker) { return worker.ended() && worker.join(kEndedJoin); });
    base::Worker& worker = workers_.emplace_back();
    if (worker.start("tavrin-shot", [body = std::move(body)](const base::WorkerControl&) { body(); }))
        return true;
    workers_.pop_back();
    return false;
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

void Screenshots::startScreenshot(const device::FrameRef& frame) {
    if (!frame) {
        status_.setStatusText(kPngSaveFailed);
        return;
    }
    const int width = frame->layout.width;
    const int height = frame->layout.height;
    const std::size_t pixelCount = width > 0 && height > 0 ? std::size_t(width) * std::size_t(height) : 0;
    // A frame that was never converted has no picture to save.
    if (pixelCount == 0 || frame->image.size() < pixelCount * 4) {
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
    job->folder = settings_.outputFolder.utf8();

    const std::string name = nextNumberedName(pngCounter_, ".png", job->folder);
    if (name.empty() || name.size() >= sizeof job->name) {
        // Every name up to the limit exists: overwriting one is never the answer.
        status_.setStatusText(kPngSaveFailed);
        return;
    }
    std::memcpy(job->name, name.c_str(), name.size() + 1);

    job->frame = frame.share();
    {
        std::lock_guard lk(workersMutex_);
        ++activeWorkers_;
    }
    ScreenshotJob* owned = job.release();
    std::function<void()> body = [this, owned] { screenshotWorker(owned); };
    if (!(starter_ ? starter_(std::move(body)) : startOwnWorker(std::move(body)))) {
        delete owned; // and with it the job's hold on the frame
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
    job->frame.reset();

    const std::string path = job->folder + job->name;
    const int result = savePng(encoder_, path, job->pixels.get(), job->width, job->height);
    status_.setStatusText(result == 0 ? "Saved " + path : std::string(kPngSaveFailed));
    delete job;
    workerEnded();
}

void Screenshots::chooseOutputFolder() {
    std::string path = chooser_.chooseFolder(kChooseFolderTitle, settings_.outputFolder.utf8());
    if (path.empty())
        return;
    if (path.back() != '/')
        path.push_back('/');
    // The settings record holds 259 characters; a shortened path would name another folder.
    base::FixedText<base::kPathUnits> folder;
    if (!folder.assign(path)) {
        status_.setStatusText("Output folder not changed: its path is longer than 259 characters.");
        return;
    }
    // Recordings name their files relative to the current directory, so the
    // folder is taken only when it can become that directory.
    if (!folders_.setCurrentDirectory(path)) {
        status_.setStatusText("Output folder not changed: cannot open " + path + ".");
        return;
    }
    settings_.outputFolder = folder;
    aviCounter_ = 0;
    pngCounter_ = 0;
}

} // namespace tavrin::screenshot

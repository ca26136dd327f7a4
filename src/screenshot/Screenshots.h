// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "base/StatusLine.h"
#include "base/UserFolders.h"
#include "base/Worker.h"
#include "device/CaptureFrame.h"
#include "device/FrameRef.h"
#include "screenshot/FolderChooser.h"
#include "screenshot/PngEncoder.h"
#include "screenshot/ScreenshotControl.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace tavrin::screenshot {

inline constexpr const char* kChooseFolderTitle = "Change Output Folder";
inline constexpr const char* kPngSaveFailed = ".png save failed.";

// One screenshot in progress: owned by its worker once the worker runs.
struct ScreenshotJob {
    device::FrameRef frame; // held until the pixels are copied
    char name[16] = {};     // "00042.png"
    std::string folder;     // the output folder the name was probed in
    int width = 0;
    int height = 0;
    std::unique_ptr<uint8_t[]> pixels; // width x height x 3, RGB, filled by the worker
};

// Starts `body` on a thread of its own. Returns false (and never runs it) when
// no thread can be started. Empty: a "tavrin-shot" worker of the Screenshots' own.
using WorkerStarter = std::function<bool(std::function<void()> body)>;

// PNG screenshots of the next frame and the output folder. All calls but the
// workers' own come from the control window's thread.
class Screenshots : public ScreenshotControl {
  public:
    // Reads and sets `settings.outputFolder`; the current directory follows it
    // through `folders`. `pngCounter` and `aviCounter` are the running numbers of
    // the file names; both go back to 0 when the output folder changes.
    Screenshots(base::Settings& settings, base::UserFolders& folders, uint32_t& pngCounter,
                uint32_t& aviCounter, base::StatusLine& status, FolderChooser& chooser, PngEncoder& encoder,
                WorkerStarter starter = {});
    // Waits for the workers still saving: a screenshot that was started is written.
    ~Screenshots() override;
    Screenshots(const Screenshots&) = delete;
    Screenshots& operator=(const Screenshots&) = delete;

    void startScreenshot(const device::FrameRef& frame) override;
    void chooseOutputFolder() override;

    // Waits until no worker runs; false if some still ran after `limit`.
    bool waitForWorkers(std::chrono::milliseconds limit);

  private:
    void screenshotWorker(ScreenshotJob* job);
    void workerEnded();
    bool startOwnWorker(std::function<void()> body);

    base::Settings& settings_;
    base::UserFolders& folders_;
    uint32_t& pngCounter_;
    uint32_t& aviCounter_;
    base::StatusLine& status_;
    FolderChooser& chooser_;
    PngEncoder& encoder_;
    WorkerStarter starter_;

    std::mutex workersMutex_;
    std::condition_variable workersIdle_;
    int activeWorkers_ = 0;
    // The own workers, those ended joined at the next start (at once: their
    // bodies have returned). Declared last: they go first, while what their
    // bodies use is there.
    std::list<base::Worker> workers_;
};

} // namespace tavrin::screenshot

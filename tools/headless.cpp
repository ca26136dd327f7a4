// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the program's start-up, message loop and shutdown without a window
// system: a console stands in for the control window, converts every frame and
// prints the link statistics once a second. A development aid, not the program.
//   tavrin-headless [--simulate] [--fps N] [--seconds N] [--version N] [--config DIR]
// Settings go to DIR (default: a new temporary folder), never to the user's own.
#include "app/AppPlatform.h"
#include "app/CaptureApp.h"
#include "app/FrameArrival.h"
#include "app/Lifecycle.h"
#include "base/XdgUserFolders.h"
#include "platform/sim/SimulatedBoard.h"
#include "platform/usb/LibusbTransport.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>

using namespace tavrin;

namespace {

struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    device::FrameRef frame; // UM_FRAME
};

// The user's desktop, but the configuration in a folder of the tool's own.
class ToolFolders final : public base::UserFolders {
  public:
    explicit ToolFolders(std::string config) : config_(std::move(config)) {}
    std::string configFolder() override { return config_; }
    std::string desktopFolder() override { return xdg_.desktopFolder(); }
    bool setCurrentDirectory(const std::string& path) override { return xdg_.setCurrentDirectory(path); }

  private:
    std::string config_;
    base::XdgUserFolders xdg_;
};

// A console in place of the control window: a queue of posted messages,
// handled on the main thread as the real window handles them.
class ConsolePlatform final : public app::AppPlatform, public device::FrameSink {
  public:
    ConsolePlatform(app::CaptureApp& app, std::chrono::seconds runTime) : app_(app), runTime_(runTime) {}

    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        {
            std::lock_guard lk(mutex_);
            queue_.push_back({message, wParam, lParam, {}});
        }
        cv_.notify_one();
    }
    void postFrame(device::FrameRef frame) override {
        {
            std::lock_guard lk(mutex_);
            queue_.push_back({base::UM_FRAME, 0, 0, std::move(frame)});
        }
        cv_.notify_one();
    }

    void initToolkit() override {}
    bool createControlWindow() override {
        app_.capture.controlWindow.set(this);
        std::printf("output folder: \"%s\"\n", app_.settings.outputFolder.utf8().c_str());
        return true;
    }
    bool registerDeviceNotification() override { return false; } // no arrivals in this tool
    void unregisterDeviceNotification() override {}
    void postBoardArrival() override {}
    void runMessageLoop() override {
        app_.consoleOpen = true;
        app::startStatsThread(app_);
        const auto end = std::chrono::steady_clock::now() + runTime_;
        for (;;) {
            std::unique_lock lk(mutex_);
            if (!cv_.wait_until(lk, end, [&] { return !queue_.empty(); }))
                break;
            Message m = std::move(queue_.front());
            queue_.pop_front();
            lk.unlock();
            if (m.message == base::WM_CLOSE)
                break;
            handle(m);
        }
        app_.capture.controlWindow.set(nullptr);
        drain();
        std::printf("%d frames converted (%d white error frames)\n", frames_, errorFrames_);
    }
    void showErrorBox(std::string_view text) override {
        std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void exitProcess(int exitCode) override { std::exit(exitCode); }
    int runFirmwareDialog() override {
        std::printf("the board asks for new firmware; this tool does not update it\n");
        return 0;
    }
    void endFirmwareDialog() override {} // never open long enough for an arrival
    void postCloseToControlWindow() override { postMessage(base::WM_CLOSE, 0, 0); }
    void scheduleUpdateCheck() override { std::printf("(update check considered)\n"); }
    void shutdownToolkit() override {}

  private:
    void handle(const Message& m) {
        if (m.message == base::UM_FRAME) {
            app::convertFrame(app_, *m.frame);
            ++frames_;
            if (m.frame->result == device::FRAME_ERROR)
                ++errorFrames_;
        } else if (m.message == base::UM_DEVICE) {
            std::printf("status: %s\n", m.wParam ? "Connected" : "Not connected");
        }
    }
    // Frames still queued go back to the pool.
    void drain() {
        std::lock_guard lk(mutex_);
        queue_.clear();
    }

    app::CaptureApp& app_;
    std::chrono::seconds runTime_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
    int frames_ = 0;
    int errorFrames_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    int seconds = 5, fps = 60, version = 4;
    std::string config;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--simulate"))
            simulate = true;
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--fps") && i + 1 < argc)
            fps = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--version") && i + 1 < argc)
            version = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--config") && i + 1 < argc)
            config = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--simulate] [--fps N] [--seconds N] [--version N] [--config DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (config.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-headless-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        config = pattern;
    }
    std::printf("settings in %s/Tavrin Capture/\n", config.c_str());

    std::unique_ptr<device::UsbTransport> transport;
    if (simulate) {
        sim::SimulatedBoard::Options options;
        options.framesPerSecond = fps;
        options.version = static_cast<uint16_t>(version);
        transport = std::make_unique<sim::SimulatedBoard>(options);
    } else {
        transport = std::make_unique<usb::LibusbTransport>();
    }
    device::NoModifierKeys keys;
    app::CaptureApp capture(*transport, keys);
    ConsolePlatform platform(capture, std::chrono::seconds(seconds));
    ToolFolders folders(config);
    const int code = app::runProgram(capture, platform, folders);
    app::stopStatsThread(capture);
    return code;
}

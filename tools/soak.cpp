// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the read thread, the frame pool, the control window's frame dispatch and
// conversion and the PNG screenshots on the simulated board for a given time,
// with random faults: short and empty reads, start time-outs, unplug and replug,
// refused opens, layout changes and a consumer that stalls now and then. At the
// end it checks that every frame is back in the pool, that every whole frame
// delivered was the board's picture (and every error frame white), that each
// screenshot file holds the picture of its frame, and that the read thread's
// counters agree with what the board did. A development aid, not the program.
//   tavrin-soak --seconds N [--fps N] [--seed N]
// Exit status 0 with "soak: PASS ..." when nothing was found, 1 with "soak: FAIL ...".
#include "app/CaptureApp.h"
#include "app/ControlWindowLogic.h"
#include "app/Lifecycle.h"
#include "base/Diagnostics.h"
#include "base/Worker.h"
#include "device/DeviceArrival.h"
#include "device/FrameQueue.h"
#include "device/ReadThread.h"
#include "device/VendorRequests.h"
#include "display/FrameConversion.h"
#include "display/HeldFrame.h"
#include "platform/png/LodePngEncoder.h"
#include "platform/sim/SimulatedBoard.h"
#include "record/NoRecording.h"
#include "screenshot/Screenshots.h"

#include <lodepng.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace tavrin;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kSoakCommand = 0x7F00; // the driver's "press a button" message
constexpr uint32_t kSoakArrival = 0x7F01; // the board came back
constexpr uint32_t kSoakRetry = 0x7F02;   // a call the logic asked to have made later

// Everything found wrong, printed at the end; the first few also as they happen.
class Findings {
  public:
    void add(const char* format, ...) {
        char line[300];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        std::lock_guard lk(mutex_);
        if (lines_.size() < 20)
            std::fprintf(stderr, "finding: %s\n", line);
        lines_.emplace_back(line);
    }
    std::size_t count() const {
        std::lock_guard lk(mutex_);
        return lines_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Sits between the board and the device layer and keeps account of what the board
// answered to each frame request, in order: the outcomes the read thread must
// see, the picture number of each whole frame, and the faults that reached it.
class WitnessTransport final : public device::UsbTransport {
  public:
    explicit WitnessTransport(sim::SimulatedBoard& board) : board_(board) {}

    struct Tally {
        uint64_t ok = 0, skip = 0, error = 0; // outcomes of device reads
        uint64_t expectedSkipCount = 0;       // the retries the read thread should count
        uint64_t promoted = 0;                // seventh short reads, delivered as errors
        uint64_t shortReads = 0, emptyReads = 0, startTimeouts = 0, refusedOpens = 0;
    };

    std::vector<std::string> listInterfaces() override { return board_.listInterfaces(); }
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override {
        auto inner = board_.open(path);
        if (!inner) {
            std::lock_guard lk(mutex_);
            ++tally_.refusedOpens;
            return nullptr;
        }
        return std::make_unique<Connection>(*this, std::move(inner));
    }

    Tally tally() const {
        std::lock_guard lk(mutex_);
        return tally_;
    }
    // The picture number of the next whole frame not yet matched, in read order.
    std::optional<uint64_t> takeWholePicture() {
        std::lock_guard lk(mutex_);
        if (wholePictures_.empty())
            return std::nullopt;
        const uint64_t n = wholePictures_.front();
        wholePictures_.pop_front();
        return n;
    }

  private:
    enum Outcome { Ok, Skip, Error };

    class Connection final : public device::UsbConnection {
      public:
        Connection(WitnessTransport& owner, std::unique_ptr<device::UsbConnection> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        bool setPipeTimeout(uint8_t pipe, uint32_t ms) override { return inner_->setPipeTimeout(pipe, ms); }
        bool setRawIo(uint8_t pipe, bool on) override { return inner_->setRawIo(pipe, on); }
        device::TransferResult controlTransfer(const device::UsbSetup& setup, uint8_t* data) override {
            const device::TransferResult r = inner_->controlTransfer(setup, data);
            if (setup.request == device::kRequestOutStartFrame && !(setup.requestType & 0x80) && !r.ok)
                owner_.startFailed(r.error);
            return r;
        }
        device::TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
            const device::TransferResult r = inner_->readPipe(pipe, buffer, length);
            if (pipe == device::kFramePipe)
                owner_.frameRead(r);
            return r;
        }
        bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
            return inner_->startAsyncRead(pipe, buffer, length);
        }
        bool asyncReadPending(uint8_t pipe) override { return inner_->asyncReadPending(pipe); }

      private:
        WitnessTransport& owner_;
        std::unique_ptr<device::UsbConnection> inner_;
    };

    void startFailed(device::UsbError error) {
        std::lock_guard lk(mutex_);
        if (error == device::UsbError::Timeout) {
            ++tally_.startTimeouts;
            outcome(Skip);
        } else {
            outcome(Error);
        }
    }
    void frameRead(const device::TransferResult& r) {
        std::lock_guard lk(mutex_);
        // Every frame read that finds the board on the bus takes the next picture.
        const bool tookPicture = r.error != device::UsbError::Gone;
        const uint64_t picture = nextPicture_;
        if (tookPicture)
            ++nextPicture_;
        if (r.transferred == 0) {
            if (tookPicture)
                ++tally_.emptyReads;
            outcome(Error);
        } else if (r.transferred < device::kPictureBytes) {
            ++tally_.shortReads;
            outcome(Skip);
        } else {
            wholePictures_.push_back(picture);
            outcome(Ok);
        }
    }
    // The read thread's rule: six short reads in a row are retried, the seventh is an error.
    void outcome(Outcome o) {
        if (o == Skip) {
            ++tally_.skip;
            if (skipRun_ < 6) {
                ++skipRun_;
                ++tally_.expectedSkipCount;
            } else {
                skipRun_ = 0;
                ++tally_.promoted;
            }
            return;
        }
        skipRun_ = 0;
        ++(o == Ok ? tally_.ok : tally_.error);
    }

    sim::SimulatedBoard& board_;
    mutable std::mutex mutex_;
    Tally tally_;
    int skipRun_ = 0;
    uint64_t nextPicture_ = 0;
    std::deque<uint64_t> wholePictures_;
};

// The reference picture of board picture `n` (or of an error frame), converted for `layoutId`.
std::vector<uint8_t> expectedRgb(std::optional<uint64_t> picture, int32_t layoutId) {
    device::CaptureFrame frame;
    frame.data.reset(new uint8_t[device::kFrameBufferBytes]());
    if (picture)
        sim::SimulatedBoard::renderPicture(*picture, frame.data.get());
    else
        std::memset(frame.data.get(), 0xFF, device::kPictureBytes);
    display::convertFrame(frame, layoutId);
    std::vector<uint8_t> rgb(frame.image.size() / 4 * 3);
    for (std::size_t i = 0, j = 0; i < frame.image.size(); i += 4, j += 3) {
        rgb[j] = frame.image[i + 2];
        rgb[j + 1] = frame.image[i + 1];
        rgb[j + 2] = frame.image[i];
    }
    return rgb;
}

// A display window as far as frames go: it holds the newest one.
class HeldTarget final : public display::DisplayTarget {
  public:
    void present(device::FrameRef frame) override { held.present(std::move(frame)); }
    display::HeldFrame held;
};

class SoakDisplays final : public display::DisplayManager {
  public:
    explicit SoakDisplays(base::Settings& settings) : settings_(settings) {}
    void applyDisplayMode(int layoutId, bool split) override {
        destroyDisplayWindows();
        settings_.displayMode = layoutId;
        settings_.splitWindows = split ? 1 : 0;
        main_.emplace();
        if (split)
            bottom_.emplace();
    }
    void destroyDisplayWindows() override {
        bottom_.reset();
        main_.reset();
    }
    display::DisplayTarget* mainDisplay() override { return main_ ? &*main_ : nullptr; }
    display::DisplayTarget* bottomDisplay() override { return bottom_ ? &*bottom_ : nullptr; }
    void applyTopmost() override {}
    void focusMainDisplay() override {}

  private:
    base::Settings& settings_;
    std::optional<HeldTarget> main_;
    std::optional<HeldTarget> bottom_;
};

// The control window: a message queue handled on the main thread by the real
// ControlWindowLogic, with delayed re-posts for the messages it retries.
class SoakWindow final : public device::FrameSink, public app::ControlWindowView {
  public:
    struct Message {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
        Clock::time_point due;
        device::FrameRef frame;     // UM_FRAME
        std::function<void()> call; // kSoakRetry only
    };

    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        {
            std::lock_guard lk(mutex_);
            queue_.push_back({message, wParam, lParam, {}, {}, {}});
        }
        cv_.notify_one();
    }
    void postFrame(device::FrameRef frame) override {
        {
            std::lock_guard lk(mutex_);
            queue_.push_back({base::UM_FRAME, 0, 0, {}, std::move(frame), {}});
        }
        cv_.notify_one();
    }
    // The next message due before `until`, or none.
    std::optional<Message> next(Clock::time_point until) {
        std::unique_lock lk(mutex_);
        for (;;) {
            const auto now = Clock::now();
            for (auto it = delayed_.begin(); it != delayed_.end(); ++it) {
                if (it->due <= now) {
                    Message m = std::move(*it);
                    delayed_.erase(it);
                    return m;
                }
            }
            if (!queue_.empty()) {
                Message m = std::move(queue_.front());
                queue_.pop_front();
                return m;
            }
            auto wake = until;
            for (const Message& m : delayed_)
                wake = std::min(wake, m.due);
            if (now >= until)
                return std::nullopt;
            cv_.wait_until(lk, wake);
        }
    }

    void setStatusText(const std::string& text) override {
        std::lock_guard lk(statusMutex_);
        if (text.rfind("Saved ", 0) == 0)
            saved.push_back(text.substr(6));
        else if (text == screenshot::kPngSaveFailed)
            ++saveFailures;
    }
    void setRecordIcon(app::RecordIcon) override {}
    void setRecordChecked(bool) override {}
    void setSettingsControlsEnabled(bool) override {}
    void addDisplayModeItem(const std::string&) override {}
    void selectDisplayModeItem(int) override {}
    void startBlinkTimer(std::chrono::milliseconds) override {}
    void stopBlinkTimer() override {}
    void focusStatusLine() override {}
    void destroyWindow() override {}
    void postQuit(int) override {}
    void retryLater(std::function<void()> retry, std::chrono::milliseconds delay) override {
        std::lock_guard lk(mutex_);
        delayed_.push_back({kSoakRetry, 0, 0, Clock::now() + delay, {}, std::move(retry)});
    }

    std::mutex statusMutex_;
    std::vector<std::string> saved; // paths of the screenshots written
    int saveFailures = 0;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
    std::vector<Message> delayed_;
};

// Remembers, for each screenshot handed to the real Screenshots, which picture it shows.
class WatchedScreenshots final : public screenshot::ScreenshotControl {
  public:
    struct Shot {
        std::string name;
        std::optional<uint64_t> picture; // none: an error frame
        int32_t layoutId;
    };
    WatchedScreenshots(screenshot::Screenshots& real, uint32_t& counter) : real_(real), counter_(counter) {}
    void startScreenshot(const device::FrameRef& frame) override {
        char name[16];
        std::snprintf(name, sizeof name, "%05u.png", counter_);
        shots.push_back({name, currentPicture, frame->layout.layoutId});
        real_.startScreenshot(frame);
    }
    void chooseOutputFolder() override {}

    std::optional<uint64_t> currentPicture; // of the frame being dispatched
    std::vector<Shot> shots;

  private:
    screenshot::Screenshots& real_;
    uint32_t& counter_;
};

class NoFolderChooser final : public screenshot::FolderChooser {
  public:
    std::string chooseFolder(const std::string&, const std::string&) override { return {}; }
};

class TempFolders final : public base::UserFolders {
  public:
    explicit TempFolders(std::string root) : root_(std::move(root)) {}
    std::string configFolder() override { return root_; }
    std::string desktopFolder() override { return root_; }
    bool setCurrentDirectory(const std::string&) override { return true; }

  private:
    std::string root_;
};

struct Injected {
    std::atomic<uint64_t> shortReads{0}, emptyReads{0}, startTimeouts{0}, unplugs{0}, refusedOpens{0};
};

// Injects faults one episode at a time, each consumed before the next, so that
// what the board did can be told from what the read thread made of it.
// The episode under way when the time is up is finished first.
void driveFaults(sim::SimulatedBoard& board, WitnessTransport& witness, Injected& injected,
                 Findings& findings, std::mt19937_64& rng, Clock::time_point end) {
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    auto range = [&](uint64_t lo, uint64_t hi) { return lo + rng() % (hi - lo + 1); };
    // Waits until `done` holds, or reports `what` after 15 s.
    auto waitFor = [&](const char* what, auto done) {
        const auto limit = Clock::now() + 15s;
        while (!done()) {
            if (Clock::now() > limit) {
                findings.add("%s did not happen within 15 s", what);
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    };
    auto wholeFramesAgain = [&] {
        const uint64_t before = witness.tally().ok;
        return waitFor("a whole frame after a fault", [&] { return witness.tally().ok >= before + 2; });
    };

    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(range(0, 300)));
        if (chance(70)) {
            // A burst of short, empty and timed-out frame requests.
            const int timeouts = chance(40) ? static_cast<int>(range(1, 4)) : 0;
            std::vector<uint32_t> reads(range(0, 12));
            uint64_t shorts = 0, empties = 0;
            for (uint32_t& count : reads) {
                count = chance(10) ? 0 : static_cast<uint32_t>(range(1, device::kPictureBytes - 1));
                ++(count == 0 ? empties : shorts);
            }
            const auto before = witness.tally();
            injected.startTimeouts += timeouts;
            injected.shortReads += shorts;
            injected.emptyReads += empties;
            board.queueStartTimeouts(timeouts);
            board.queueShortReads(reads);
            if (!waitFor("the injected short reads and time-outs", [&] {
                    const auto t = witness.tally();
                    return t.startTimeouts >= before.startTimeouts + timeouts &&
                           t.shortReads >= before.shortReads + shorts &&
                           t.emptyReads >= before.emptyReads + empties;
                }))
                return;
            if (!wholeFramesAgain())
                return;
        } else {
            // Unplugged, and plugged back in; now and then the first open is refused.
            const bool refuse = chance(30);
            ++injected.unplugs;
            board.setPresent(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(range(20, 400)));
            if (refuse) {
                ++injected.refusedOpens;
                const uint64_t refusedBefore = witness.tally().refusedOpens;
                board.setOpenRefused(true);
                board.setPresent(true);
                if (!waitFor("the refused open",
                             [&] { return witness.tally().refusedOpens > refusedBefore; }))
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(range(0, 300)));
                board.setOpenRefused(false);
                ++injected.unplugs;
                board.setPresent(false);
                std::this_thread::sleep_for(std::chrono::milliseconds(range(20, 100)));
            }
            board.setPresent(true);
            if (!wholeFramesAgain())
                return;
        }
    }
}

struct Options {
    int seconds = 60;
    int fps = 60;
    uint64_t seed = 0;
};

bool parse(int argc, char** argv, Options& o) {
    bool seeded = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--seconds") && hasValue)
            o.seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--fps") && hasValue)
            o.fps = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && hasValue) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
            seeded = true;
        } else
            return false;
    }
    if (!seeded)
        o.seed = std::random_device{}();
    return o.seconds > 0 && o.fps >= 0;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, opt)) {
        std::fprintf(stderr, "usage: %s --seconds N [--fps N] [--seed N]\n", argv[0]);
        return 2;
    }
    base::setDiagnosticsToStdout(false);
    std::atomic<int> starved{0};
    base::addDiagnosticMirror([&starved](const base::LogLine& line) {
        if (line.text == "read_thread starved\n")
            ++starved;
    });
    std::string folder = (std::filesystem::temp_directory_path() / "tavrin-soak-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    folder += '/';

    Findings findings;
    std::mt19937_64 rng(opt.seed);
    std::mt19937_64 driverRng(rng());
    sim::SimulatedBoard::Options boardOptions;
    boardOptions.framesPerSecond = opt.fps;
    sim::SimulatedBoard board(boardOptions);
    WitnessTransport witness(board);
    device::NoModifierKeys keys;
    app::CaptureApp program(witness, keys);
    program.settings.outputFolder.assign(std::string_view(folder));

    SoakWindow window;
    SoakDisplays displays(program.settings);
    record::NoRecording recorder;
    NoFolderChooser chooser;
    png::LodePngEncoder encoder;
    TempFolders folders(folder);
    std::optional<screenshot::Screenshots> screenshots;
    screenshots.emplace(program.settings, folders, program.pngCounter, program.aviCounter, window, chooser,
                        encoder);
    WatchedScreenshots watched(*screenshots, program.pngCounter);
    app::ControlWindowLogic logic(program, {window, displays, recorder, &watched, {}, {}, {}, {}});
    board.setArrivalObserver([&window] { window.postMessage(kSoakArrival, 0, 0); });

    program.capture.controlWindow.set(&window);
    logic.initialise(window);
    program.capture.currentDevice = &program.capture.nullDevice;
    if (!device::usbThread_start(program.capture)) {
        std::printf("soak: FAIL usbThread_start() failed\n");
        return 1;
    }
    device::switchDevice(program.capture, nullptr);

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(opt.seconds);
    Injected injected;
    base::Worker driver;
    if (!driver.start("tavrin-faults", [&](const base::WorkerControl&) {
            driveFaults(board, witness, injected, findings, driverRng, end);
        })) {
        std::printf("soak: FAIL the fault driver did not start\n");
        return 1;
    }

    uint64_t okFrames = 0, errorFrames = 0, stalls = 0, layoutChanges = 0;
    auto handle = [&](SoakWindow::Message& m) {
        if (m.message == base::UM_FRAME) {
            const device::CaptureFrame* frame = m.frame.get();
            watched.currentPicture.reset();
            if (frame->result == device::FRAME_OK) {
                ++okFrames;
                const auto picture = witness.takeWholePicture();
                std::vector<uint8_t> expected(device::kPictureBytes);
                if (picture)
                    sim::SimulatedBoard::renderPicture(*picture, expected.data());
                if (!picture || std::memcmp(expected.data(), frame->data.get(), device::kPictureBytes) != 0)
                    findings.add("whole frame %llu is not board picture %lld",
                                 static_cast<unsigned long long>(okFrames),
                                 picture ? static_cast<long long>(*picture) : -1LL);
                watched.currentPicture = picture;
            } else if (frame->result == device::FRAME_ERROR) {
                ++errorFrames;
                const uint8_t* d = frame->data.get();
                if (std::any_of(d, d + device::kPictureBytes, [](uint8_t b) { return b != 0xFF; }))
                    findings.add("error frame %llu is not white",
                                 static_cast<unsigned long long>(errorFrames));
            } else {
                findings.add("a frame was delivered with result %d", frame->result);
            }
            logic.handleFrame(std::move(m.frame));
            return;
        } else if (m.message == kSoakArrival) {
            logic.deviceArrived(device::kBoardArrival);
            return;
        } else if (m.message == kSoakRetry) {
            m.call();
            return;
        } else if (m.message == kSoakCommand) {
            if (m.wParam == 0)
                logic.command(app::IDC_SCREENSHOT);
            else
                logic.displayModeSelected(static_cast<int>(m.wParam - 1));
            return;
        }
        logic.handleMessage(m.message, m.wParam, m.lParam);
    };

    // The user: screenshots several times a second, a layout change now and then, and
    // a window that stops taking messages for a while (the pool runs dry meanwhile).
    auto nextUserAction = start;
    for (;;) {
        if (auto m = window.next(Clock::now() + 20ms))
            handle(*m);
        const auto now = Clock::now();
        if (now >= end && driver.ended())
            break;
        if (now < nextUserAction)
            continue;
        nextUserAction = now + std::chrono::milliseconds(50 + rng() % 200);
        const int roll = static_cast<int>(rng() % 100);
        if (roll < 60) {
            window.postMessage(kSoakCommand, 0, 0);
        } else if (roll < 63) {
            ++layoutChanges;
            window.postMessage(kSoakCommand, 1 + rng() % app::displayModeItems.size(), 0);
        } else if (roll < 65) {
            ++stalls;
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 1200));
        }
    }

    driver.join(1s); // it has ended
    if (!device::usbThread_stop(program.capture, 500ms))
        findings.add("the read thread did not stop within 500 ms");
    // Frames still on their way are taken as the window takes them, then the windows close.
    while (auto m = window.next(Clock::now()))
        if (m->message == base::UM_FRAME)
            handle(*m);
    program.capture.controlWindow.set(nullptr);
    displays.destroyDisplayWindows();
    if (!screenshots->waitForWorkers(30s))
        findings.add("screenshot workers still ran 30 s after the end");
    {
        std::lock_guard lk(program.capture.appLock);
        program.capture.currentDevice.load()->close();
        program.capture.currentDevice = &program.capture.nullDevice;
    }

    // Every frame home, once.
    std::set<device::CaptureFrame*> home;
    for (int i = 0; i < device::FramePool::kFrameCount + 1; ++i) {
        device::CaptureFrame* f = program.capture.framePool.queue().pop(0ms);
        if (!f)
            break;
        if (f->refCount != 0)
            findings.add("a frame came home with %d references", f->refCount);
        if (!home.insert(f).second)
            findings.add("a frame was twice in the pool");
    }
    if (home.size() != device::FramePool::kFrameCount)
        findings.add("%zu of %d frames are back in the pool", home.size(), device::FramePool::kFrameCount);

    // The counters against the board's account.
    const auto t = witness.tally();
    const uint64_t okCount = static_cast<uint64_t>(program.capture.okCount.load());
    const uint64_t skipCount = static_cast<uint64_t>(program.capture.skipCount.load());
    const uint64_t errorCount = static_cast<uint64_t>(program.capture.errorCount.load());
    if (okCount != t.ok || okFrames != t.ok || board.framesDelivered() != t.ok)
        findings.add("whole frames: okCount %llu, delivered %llu, read %llu, board sent %llu",
                     static_cast<unsigned long long>(okCount), static_cast<unsigned long long>(okFrames),
                     static_cast<unsigned long long>(t.ok),
                     static_cast<unsigned long long>(board.framesDelivered()));
    if (skipCount != t.expectedSkipCount)
        findings.add("skipCount %llu, expected %llu", static_cast<unsigned long long>(skipCount),
                     static_cast<unsigned long long>(t.expectedSkipCount));
    if (errorCount != errorFrames || errorFrames < t.error + t.promoted)
        findings.add("errorCount %llu, error frames %llu, device errors %llu + promoted %llu",
                     static_cast<unsigned long long>(errorCount),
                     static_cast<unsigned long long>(errorFrames), static_cast<unsigned long long>(t.error),
                     static_cast<unsigned long long>(t.promoted));
    if (t.shortReads != injected.shortReads || t.emptyReads != injected.emptyReads ||
        t.startTimeouts != injected.startTimeouts || t.refusedOpens != injected.refusedOpens)
        findings.add(
            "faults injected/seen: short %llu/%llu empty %llu/%llu time-outs %llu/%llu refused %llu/%llu",
            static_cast<unsigned long long>(injected.shortReads.load()),
            static_cast<unsigned long long>(t.shortReads),
            static_cast<unsigned long long>(injected.emptyReads.load()),
            static_cast<unsigned long long>(t.emptyReads),
            static_cast<unsigned long long>(injected.startTimeouts.load()),
            static_cast<unsigned long long>(t.startTimeouts),
            static_cast<unsigned long long>(injected.refusedOpens.load()),
            static_cast<unsigned long long>(t.refusedOpens));
    if (static_cast<uint64_t>(board.arrivals()) != injected.unplugs)
        findings.add("%d arrivals for %llu replugs", board.arrivals(),
                     static_cast<unsigned long long>(injected.unplugs.load()));

    // Each screenshot file holds its frame's picture.
    std::size_t savedCount;
    {
        std::lock_guard lk(window.statusMutex_);
        savedCount = window.saved.size();
        if (window.saveFailures)
            findings.add("%d screenshots failed", window.saveFailures);
    }
    if (savedCount != watched.shots.size())
        findings.add("%zu screenshots saved of %zu taken", savedCount, watched.shots.size());
    for (const auto& shot : watched.shots) {
        std::vector<uint8_t> pixels;
        unsigned w = 0, h = 0;
        const unsigned err = lodepng::decode(pixels, w, h, folder + shot.name, LCT_RGB, 8);
        const auto expected = expectedRgb(shot.picture, shot.layoutId);
        const auto& layout = device::screenLayouts[shot.layoutId];
        if (err || w != static_cast<unsigned>(layout.width) || h != static_cast<unsigned>(layout.height) ||
            pixels != expected)
            findings.add("screenshot %s does not show its frame (%s)", shot.name.c_str(),
                         err ? lodepng_error_text(err) : "other pixels");
    }
    screenshots.reset();
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(folder), ec);

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "soak: %s %.0f s seed %llu: frames ok %llu error %llu, skips %llu; faults: short %llu empty %llu "
        "time-outs %llu unplugs %llu refused %llu; screenshots %zu, layouts %llu, stalls %llu, starved %d; "
        "findings %zu\n",
        findings.count() ? "FAIL" : "PASS", seconds, static_cast<unsigned long long>(opt.seed),
        static_cast<unsigned long long>(okFrames), static_cast<unsigned long long>(errorFrames),
        static_cast<unsigned long long>(skipCount),
        static_cast<unsigned long long>(injected.shortReads.load()),
        static_cast<unsigned long long>(injected.emptyReads.load()),
        static_cast<unsigned long long>(injected.startTimeouts.load()),
        static_cast<unsigned long long>(injected.unplugs.load()),
        static_cast<unsigned long long>(injected.refusedOpens.load()), watched.shots.size(),
        static_cast<unsigned long long>(layoutChanges), static_cast<unsigned long long>(stalls),
        starved.load(), findings.count());
    return findings.count() ? 1 : 0;
}

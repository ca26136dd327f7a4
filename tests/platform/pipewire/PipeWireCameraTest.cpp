// SPDX-License-Identifier: GPL-2.0-or-later
// The camera on a real PipeWire daemon, read by GStreamer's pipewiresrc. Needs the
// daemon of scripts/test-env.sh (PIPEWIRE_RUNTIME_DIR) and gst-launch-1.0. A daemon
// missing, stopped and restarted: camera_program.sh, with the whole program.
#include "platform/pipewire/PipeWireCamera.h"

#include "CameraReference.h"
#include "device/FrameQueue.h"
#include "display/FrameConversion.h"
#include "fakes/Eventually.h"
#include "fakes/FakeControlWindow.h"
#include "platform/sim/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tavrin;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tavrin::testing::eventually;

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// The properties of node `name` as pw-dump shows them; empty when there is no such node.
std::string nodeProps(const std::string& name) {
    const std::string dump = run("pw-dump 2>/dev/null");
    const std::size_t at = dump.find("\"node.name\": \"" + name + "\"");
    if (at == std::string::npos)
        return {};
    const std::size_t from = dump.rfind("\"props\": {", at);
    const std::size_t to = dump.find('}', at);
    return from == std::string::npos || to == std::string::npos ? std::string()
                                                                : dump.substr(from, to - from);
}

bool haveDaemon() {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    return dir && fs::exists(fs::path(dir) / "pipewire-0");
}

bool haveGstreamer() {
    return std::system("gst-inspect-1.0 pipewiresrc >/dev/null 2>&1") == 0;
}

// gst-launch-1.0 with `args`, its output thrown away; ended with SIGINT (it sends EOS first).
class Consumer {
  public:
    explicit Consumer(const std::vector<std::string>& args) {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char*> argv{const_cast<char*>("gst-launch-1.0"), const_cast<char*>("-q"),
                                    const_cast<char*>("-e")};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            std::freopen("/dev/null", "w", stdout);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Consumer() { stop(); }
    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGINT);
        for (int i = 0; i < 300 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(10ms);
        if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/tavrin-camera.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

// A frame of the pool with the simulated board's picture `n`, converted for `layoutId`.
device::FrameRef boardFrame(device::FramePool& pool, uint32_t n, int32_t layoutId) {
    device::FrameRef f = pool.take(1s);
    if (f) {
        sim::SimulatedBoard::renderPicture(n, f->data.get());
        display::convertFrame(*f, layoutId);
    }
    return f;
}

std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(PipeWireCamera, AReaderKeepsGettingExactPicturesAcrossALayoutChange) {
    if (!haveDaemon() || !haveGstreamer())
        GTEST_SKIP() << "needs a PipeWire daemon and GStreamer's pipewiresrc (scripts/test-env.sh)";
    tavrin::testing::DiagnosticCapture quiet;
    device::FramePool pool;
    ASSERT_TRUE(pool.setup());
    const std::string name = "tavrin-capture-test-" + std::to_string(::getpid());
    pipewire::PipeWireCamera camera({name, "Tavrin Capture test", 3000ms});
    camera.setEnabled(true);
    ASSERT_TRUE(eventually([&] { return camera.published(); }, 5s));

    // What the camera portal looks for, and the name consumers ask for.
    std::string props;
    ASSERT_TRUE(eventually([&] { return !(props = nodeProps(name)).empty(); }, 5s));
    EXPECT_NE(props.find("\"media.class\": \"Video/Source\""), std::string::npos) << props;
    EXPECT_NE(props.find("\"media.role\": \"Camera\""), std::string::npos) << props;
    EXPECT_NE(props.find("\"node.description\": \"Tavrin Capture test\""), std::string::npos) << props;

    // Nobody reads: frames are not taken, nothing is sent or counted.
    EXPECT_FALSE(camera.wantsFrames());
    for (uint32_t n = 0; n < 5; ++n)
        camera.present(boardFrame(pool, n, device::kDualScreenLayout));
    EXPECT_EQ(camera.counters().sent + camera.counters().droppedBusy + camera.counters().droppedNoBuffer, 0u);
    EXPECT_EQ(pool.queue().count(), device::FramePool::kFrameCount);

    TempDir out;
    Consumer gst({"pipewiresrc", "target-object=" + name, "!", "videoconvert", "!", "video/x-raw,format=BGRx",
                  "!", "multifilesink", "location=" + (out.path / "%05d.raw").string()});
    ASSERT_TRUE(eventually([&] { return camera.wantsFrames(); }, 10s)) << "pipewiresrc did not connect";

    // 1.5 s of the dual-screen picture, then 1.5 s of the single-screen one, at the board's pace.
    std::map<uint64_t, std::pair<uint32_t, int32_t>> sentPictures;
    auto next = std::chrono::steady_clock::now();
    for (uint32_t n = 100; n < 280; ++n) {
        const int32_t layout = n < 190 ? device::kDualScreenLayout : device::kSingleScreenLayout;
        sentPictures[tavrin::testing::pictureHash(tavrin::testing::cameraPictureOf(n, layout))] = {n, layout};
        camera.present(boardFrame(pool, n, layout));
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(300ms);
    gst.stop();
    EXPECT_TRUE(eventually([&] { return !camera.wantsFrames(); }, 5s)) << "the reader left";
    EXPECT_TRUE(eventually([&] { return pool.queue().count() == device::FramePool::kFrameCount; }, 2s))
        << "the camera let go of every frame";

    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(out.path))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    int dual = 0, single = 0, notExact = 0, outOfOrder = 0;
    uint32_t previous = 0;
    int32_t previousLayout = device::kDualScreenLayout;
    for (const fs::path& f : files) {
        const std::vector<uint8_t> bytes = readFile(f);
        const auto it = sentPictures.find(tavrin::testing::pictureHash(bytes));
        if (it == sentPictures.end() ||
            bytes != tavrin::testing::cameraPictureOf(it->second.first, it->second.second)) {
            ++notExact;
            continue;
        }
        const auto [n, layout] = it->second;
        (layout == device::kDualScreenLayout ? dual : single)++;
        outOfOrder += n <= previous || layout < previousLayout;
        previous = n;
        previousLayout = layout;
    }
    const auto c = camera.counters();
    EXPECT_EQ(notExact, 0);
    EXPECT_EQ(outOfOrder, 0);
    // Most of each part arrives (the reader may have started late or ended early).
    EXPECT_GE(dual, 60) << "sent " << c.sent << ", dropped " << c.droppedBusy << "+" << c.droppedNoBuffer;
    EXPECT_GE(single, 60) << "the reader kept getting pictures after the layout change";
    EXPECT_GE(c.sent, static_cast<uint64_t>(dual + single));

    // The user's switch takes the node away and brings it back.
    camera.setEnabled(false);
    EXPECT_TRUE(eventually([&] { return !camera.published() && nodeProps(name).empty(); }, 5s));
    camera.setEnabled(true);
    EXPECT_TRUE(eventually([&] { return camera.published() && !nodeProps(name).empty(); }, 5s));
    EXPECT_EQ(camera.counters().connects, 2u);
}

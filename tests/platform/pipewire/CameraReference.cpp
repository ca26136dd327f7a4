// SPDX-License-Identifier: GPL-2.0-or-later
#include "CameraReference.h"

#include "display/FrameConversion.h"
#include "fakes/Eventually.h"
#include "platform/sim/SimulatedBoard.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::testing {

std::vector<uint8_t> cameraPictureOf(uint32_t n, int32_t layoutId) {
    const base::PictureOptions plain;
    const display::CameraCanvas canvas = display::cameraCanvas(plain);
    device::CaptureFrame frame;
    frame.data = std::make_unique<uint8_t[]>(device::kFrameBufferBytes);
    sim::SimulatedBoard::renderPicture(n, frame.data.get());
    display::convertFrame(frame, layoutId);
    std::vector<uint8_t> out(canvas.bytes());
    display::composeCameraPicture(frame, plain, canvas, out.data(), canvas.stride());
    return out;
}

uint64_t pictureHash(std::span<const uint8_t> bytes) {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

CameraReference::CameraReference(int32_t layoutId, uint32_t count) : layoutId_(layoutId) {
    for (uint32_t n = 0; n < count; ++n)
        byHash_.emplace(pictureHash(cameraPictureOf(n, layoutId)), n);
}

std::vector<uint32_t> CameraReference::find(std::span<const uint8_t> bgrx) const {
    std::vector<uint32_t> found;
    if (bgrx.size() != display::cameraCanvas({}).bytes())
        return found;
    const auto [from, to] = byHash_.equal_range(pictureHash(bgrx));
    for (auto it = from; it != to; ++it) {
        const std::vector<uint8_t> expected = cameraPictureOf(it->second, layoutId_);
        if (std::equal(expected.begin(), expected.end(), bgrx.begin()))
            found.push_back(it->second);
    }
    std::sort(found.begin(), found.end());
    return found;
}

GstReader::GstReader(const std::string& node, const std::string& folder, const std::string& exactFormat,
                     const std::string& convertedTo) {
    const std::string target = "target-object=" + node;
    const std::string location = "location=" + folder + "/%05d.raw";
    const std::string caps = "video/x-raw,format=" + (exactFormat.empty() ? convertedTo : exactFormat);
    pid_ = ::fork();
    if (pid_ == 0) {
        std::freopen("/dev/null", "w", stdout);
        if (exactFormat.empty())
            ::execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "-e", "pipewiresrc", target.c_str(), "!",
                     "videoconvert", "!", caps.c_str(), "!", "multifilesink", location.c_str(), nullptr);
        else
            ::execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "-e", "pipewiresrc", target.c_str(), "!",
                     caps.c_str(), "!", "multifilesink", location.c_str(), nullptr);
        ::_exit(127);
    }
}

void GstReader::stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGINT);
    if (!eventually([&] { return ::waitpid(pid_, nullptr, WNOHANG) != 0; }, std::chrono::seconds(3))) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::vector<std::string> GstReader::files(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool havePipewireDaemon() {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    return dir && std::filesystem::exists(std::filesystem::path(dir) / "pipewire-0");
}

std::string nodeProps(const std::string& name) {
    std::string dump;
    if (FILE* p = ::popen("pw-dump 2>/dev/null", "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            dump.append(buf, n);
        ::pclose(p);
    }
    const std::size_t at = dump.find("\"node.name\": \"" + name + "\"");
    if (at == std::string::npos)
        return {};
    const std::size_t from = dump.rfind("\"props\": {", at);
    const std::size_t to = dump.find('}', at);
    return from == std::string::npos || to == std::string::npos ? std::string()
                                                                : dump.substr(from, to - from);
}

bool haveGstPipewire() {
    return std::system("gst-inspect-1.0 pipewiresrc >/dev/null 2>&1") == 0;
}

} // namespace tavrin::testing

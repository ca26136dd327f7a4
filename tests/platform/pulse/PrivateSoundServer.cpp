// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/pulse/PrivateSoundServer.h"

#include <pulse/pulseaudio.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavrin::testing {

namespace {

// One connection on a main loop of its own, run only while a request waits.
class Request {
  public:
    explicit Request(std::chrono::milliseconds timeout)
        : deadline_(std::chrono::steady_clock::now() + timeout), loop_(pa_mainloop_new()),
          context_(pa_context_new(pa_mainloop_get_api(loop_), "Tavrin test control")) {
        if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return;
        runUntil([this] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED;
        });
        ready_ = pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    ~Request() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_mainloop_free(loop_);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool ready() const { return ready_; }
    pa_context* context() const { return context_; }
    // Runs the loop until `done` or the deadline; whether `done` came.
    template <typename Done> bool runUntil(Done done) {
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline_)
                return false;
            if (pa_mainloop_prepare(loop_, 10'000) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
        return true;
    }
    // Runs an operation to its end.
    bool finish(pa_operation* op) {
        if (op == nullptr)
            return false;
        const bool done = runUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        pa_operation_unref(op);
        return done;
    }

  private:
    std::chrono::steady_clock::time_point deadline_;
    pa_mainloop* loop_;
    pa_context* context_;
    bool ready_ = false;
};

constexpr std::chrono::milliseconds kRequestTimeout{5000};

} // namespace

bool soundServerAnswers(std::chrono::milliseconds timeout) {
    return Request(timeout).ready();
}

std::optional<uint32_t> loadSoundModule(const std::string& name, const std::string& arguments) {
    Request request(kRequestTimeout);
    if (!request.ready())
        return std::nullopt;
    uint32_t index = PA_INVALID_INDEX;
    auto onLoaded = [](pa_context*, uint32_t idx, void* userdata) {
        *static_cast<uint32_t*>(userdata) = idx;
    };
    if (!request.finish(
            pa_context_load_module(request.context(), name.c_str(), arguments.c_str(), onLoaded, &index)) ||
        index == PA_INVALID_INDEX)
        return std::nullopt;
    return index;
}

bool unloadSoundModule(uint32_t index) {
    Request request(kRequestTimeout);
    if (!request.ready())
        return false;
    bool ok = false;
    auto onDone = [](pa_context*, int success, void* userdata) {
        *static_cast<bool*>(userdata) = success != 0;
    };
    return request.finish(pa_context_unload_module(request.context(), index, onDone, &ok)) && ok;
}

std::optional<std::vector<std::string>> soundServerPlaybackStreams() {
    Request request(kRequestTimeout);
    if (!request.ready())
        return std::nullopt;
    std::vector<std::string> names;
    auto onInput = [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
        if (eol == 0 && info != nullptr)
            static_cast<std::vector<std::string>*>(userdata)->emplace_back(info->name != nullptr ? info->name
                                                                                                 : "");
    };
    if (!request.finish(pa_context_get_sink_input_info_list(request.context(), onInput, &names)))
        return std::nullopt;
    return names;
}

PrivateSoundServer::PrivateSoundServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-pulse.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) { // mkdtemp makes it 0700
        failure_ = "cannot make a runtime folder";
        return;
    }
    folder_ = pattern;
    const std::string runtime = folder_ + "/pulse";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    address_ = "unix:" + runtime + "/native";
    std::ofstream(folder_ + "/server.pa")
        << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << runtime << "/native\n"
        << "load-module module-null-sink sink_name=tavrin_null "
           "sink_properties=device.description=Tavrin_Test_Sink\n"
        << "load-module module-null-sink sink_name=tavrin_speakers "
           "sink_properties=device.description=Tavrin_Test_Speakers\n"
        << "set-default-sink tavrin_speakers\n"
        << "set-default-source tavrin_null.monitor\n";
    // A client that finds no server must not start one of its own behind the test's back.
    std::ofstream(folder_ + "/client.conf") << "autospawn = no\n";
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"PULSE_SERVER", address_},
                                      {"PULSE_RUNTIME_PATH", runtime},
                                      {"XDG_RUNTIME_DIR", folder_},
                                      {"PULSE_CLIENTCONFIG", folder_ + "/client.conf"},
                                      {"PULSE_STATE_PATH", folder_ + "/state"}}) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
        ::setenv(name, value.c_str(), 1);
    }
    start();
}

PrivateSoundServer::~PrivateSoundServer() {
    stop();
    for (const auto& v : saved_) {
        if (v.value)
            ::setenv(v.name.c_str(), v.value->c_str(), 1);
        else
            ::unsetenv(v.name.c_str());
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool PrivateSoundServer::start() {
    if (folder_.empty())
        return false;
    if (pid_ > 0)
        return true;
    const std::string script = folder_ + "/server.pa";
    const std::string logPath = folder_ + "/pulse.log";
    std::vector<std::string> args = {"pulseaudio",         "-n",
                                     "--file=" + script,   "--daemonize=no",
                                     "--system=false",     "--exit-idle-time=-1",
                                     "--disallow-exit",    "--realtime=no",
                                     "--high-priority=no", "--log-target=stderr"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Found before the fork: between fork and exec only async-signal-safe calls.
    std::string program;
    for (std::stringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin");
         program.empty() && std::getline(path, program, ':');)
        program = ::access((program + "/pulseaudio").c_str(), X_OK) == 0 ? program + "/pulseaudio" : "";
    if (program.empty()) {
        failure_ = "cannot run pulseaudio";
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        failure_ = "cannot run pulseaudio";
        return false;
    }
    if (pid == 0) {
        // A test killed on its time limit takes its daemon with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int null = ::open("/dev/null", O_RDONLY);
        if (log < 0 || null < 0)
            ::_exit(127);
        ::dup2(null, STDIN_FILENO);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    pid_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "pulseaudio ended at start:\n" + log();
            return false;
        }
        if (soundServerAnswers(std::chrono::milliseconds(500))) {
            failure_.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    failure_ = "pulseaudio did not answer:\n" + log();
    stop();
    return false;
}

void PrivateSoundServer::stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string PrivateSoundServer::log() const {
    std::ifstream in(folder_ + "/pulse.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace tavrin::testing

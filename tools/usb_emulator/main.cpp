// SPDX-License-Identifier: GPL-2.0-or-later
// tavrin-usb-emulator [--fps N] [--faults SPEC] [--control FIFO] -- COMMAND [ARGS...]
//
// Runs COMMAND with an emulated board on a USB bus faked by umockdev: COMMAND's
// libusb finds the board in sysfs, opens its device node and talks to it through
// usbdevfs, as on a real bus. The board behaves as the simulated board does.
//
// SPEC is a comma-separated list of FAULT or FAULT@SECONDS (after the start):
//   unplug, replug        the board leaves the bus / comes back (remove / add uevents)
//   short[:N]             the next frame read delivers N bytes (default 1000)
//   empty                 the next frame read delivers nothing before its time-out
//   stall[:N]             the next frame read delivers N bytes, then nothing until its time-out
//   start-timeout         the next start-of-frame request times out
//   noperm, perm          the board's device node cannot / can be opened from its next arrival on
//   firmware              the board asks for new firmware (version 1) when opened next
// The same faults, one a line, may be written at any time to the FIFO named in
// COMMAND's environment as TAVRIN_USB_EMULATOR_CONTROL (made at FIFO when given).
// TAVRIN_USB_EMULATOR_TRACE=1 prints each usbdevfs request number as it arrives.
#include "tools/usb_emulator/EmulatedBus.h"

#include <glib-unix.h>
#include <glib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using tavrin::emulator::EmulatedBus;

namespace {

int usage() {
    std::fprintf(
        stderr, "usage: tavrin-usb-emulator [--fps N] [--faults SPEC] [--control FIFO] -- COMMAND [ARGS...]\n"
                "faults: unplug, replug, short[:N], empty, stall[:N], start-timeout, noperm, perm,\n"
                "        firmware; each may be followed by @SECONDS\n");
    return 2;
}

// Applies one fault by name; false when the name is unknown.
bool applyFault(EmulatedBus& bus, const std::string& fault) {
    const auto colon = fault.find(':');
    const std::string name = fault.substr(0, colon);
    const long value = colon == std::string::npos ? -1 : std::strtol(fault.c_str() + colon + 1, nullptr, 10);
    if (name == "unplug")
        bus.unplug();
    else if (name == "replug")
        bus.replug();
    else if (name == "short")
        bus.board().queueShortReads({static_cast<uint32_t>(value < 0 ? 1000 : value)});
    else if (name == "empty")
        bus.board().queueShortReads({0});
    else if (name == "stall")
        bus.board().queueStalledReads({static_cast<uint32_t>(value < 0 ? 65536 : value)});
    else if (name == "start-timeout")
        bus.board().queueStartTimeouts(1);
    else if (name == "noperm")
        bus.setNoPermission(true);
    else if (name == "perm")
        bus.setNoPermission(false);
    else if (name == "firmware")
        bus.board().setVersion(1);
    else
        return false;
    std::fprintf(stderr, "tavrin-usb-emulator: %s\n", fault.c_str());
    return true;
}

struct Timed {
    EmulatedBus* bus;
    std::string fault;
};

struct Control {
    EmulatedBus* bus;
    int fd;
    std::string pending;
};

struct Run {
    GMainLoop* loop = nullptr;
    GPid child = 0;
    int status = 0;
};

// umockdev sends uevents through libudev in this process, which must see the testbed's
// sysfs as COMMAND does: run under the preload library too (re-executed once).
void runUnderPreload(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload"))
        return;
    std::string list = "libumockdev-preload.so.0";
    if (preload && *preload)
        list += std::string(":") + preload;
    setenv("LD_PRELOAD", list.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = asan && *asan ? std::string(asan) + ":" : std::string();
    setenv("ASAN_OPTIONS", (asanOptions + "verify_asan_link_order=0").c_str(), 1);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    execv(n > 0 ? self : "/proc/self/exe", argv);
    std::perror("tavrin-usb-emulator: cannot restart under umockdev");
}

} // namespace

int main(int argc, char** argv) {
    runUnderPreload(argv);
    int fps = 60;
    std::string faults;
    std::string controlPath;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--fps" && i + 1 < argc)
            fps = std::atoi(argv[++i]);
        else if (a == "--faults" && i + 1 < argc)
            faults = argv[++i];
        else if (a == "--control" && i + 1 < argc)
            controlPath = argv[++i];
        else
            return usage();
    }
    if (i >= argc || fps < 0)
        return usage();

    tavrin::sim::SimulatedBoard::Options options;
    options.framesPerSecond = fps;
    options.reconnectDelay = std::chrono::milliseconds(500);
    // Programming a page keeps the firmware memory busy for a moment, as on a board.
    options.pageWriteTime = std::chrono::microseconds(500);
    EmulatedBus bus(options);

    // Faults without a time apply before the board first appears.
    std::vector<Timed*> timed;
    for (std::size_t start = 0; start < faults.size();) {
        std::size_t end = faults.find(',', start);
        if (end == std::string::npos)
            end = faults.size();
        std::string item = faults.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        const auto at = item.find('@');
        if (at == std::string::npos) {
            if (item != "unplug" && item != "replug" && !applyFault(bus, item))
                return usage();
            if (item == "unplug")
                bus.board().setPresent(false);
            continue;
        }
        const double seconds = std::atof(item.c_str() + at + 1);
        auto* t = new Timed{&bus, item.substr(0, at)};
        timed.push_back(t);
        g_timeout_add(
            static_cast<guint>(seconds * 1000),
            [](gpointer p) -> gboolean {
                auto* due = static_cast<Timed*>(p);
                applyFault(*due->bus, due->fault);
                return G_SOURCE_REMOVE;
            },
            t);
    }

    if (!bus.start())
        return 1;

    // The control FIFO: faults written by COMMAND (tests) while it runs.
    if (controlPath.empty())
        controlPath = bus.root() + "/control";
    if (mkfifo(controlPath.c_str(), 0600) != 0 && errno != EEXIST)
        std::perror("tavrin-usb-emulator: control FIFO");
    Control control{&bus, open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC), {}};
    if (control.fd >= 0) {
        g_unix_fd_add(
            control.fd, G_IO_IN,
            [](gint fd, GIOCondition, gpointer p) -> gboolean {
                auto* c = static_cast<Control*>(p);
                char chunk[256];
                ssize_t n;
                while ((n = read(fd, chunk, sizeof chunk)) > 0)
                    c->pending.append(chunk, static_cast<std::size_t>(n));
                for (std::size_t nl; (nl = c->pending.find('\n')) != std::string::npos;) {
                    const std::string line = c->pending.substr(0, nl);
                    c->pending.erase(0, nl + 1);
                    if (!line.empty() && !applyFault(*c->bus, line))
                        std::fprintf(stderr, "tavrin-usb-emulator: unknown fault \"%s\"\n", line.c_str());
                }
                return G_SOURCE_CONTINUE;
            },
            &control);
    }

    // COMMAND's environment: ours, with umockdev's preload library first (see
    // runUnderPreload; a program built with AddressSanitizer would want its runtime first,
    // verify_asan_link_order=0 lets both work in this order), the testbed, the control FIFO.
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "UMOCKDEV_DIR", bus.root().c_str(), TRUE);
    env = g_environ_setenv(env, "TAVRIN_USB_EMULATOR_CONTROL", controlPath.c_str(), TRUE);

    Run run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    GError* error = nullptr;
    if (!g_spawn_async(nullptr, argv + i, env,
                       static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                G_SPAWN_CHILD_INHERITS_STDIN),
                       nullptr, nullptr, &run.child, &error)) {
        std::fprintf(stderr, "tavrin-usb-emulator: cannot start %s: %s\n", argv[i], error->message);
        g_clear_error(&error);
        g_strfreev(env);
        return 127;
    }
    g_strfreev(env);
    g_child_watch_add(
        run.child,
        [](GPid, gint status, gpointer p) {
            auto* r = static_cast<Run*>(p);
            r->status = status;
            g_main_loop_quit(r->loop);
        },
        &run);
    // Ctrl+C and termination go to COMMAND, which ends the run by ending itself.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        g_unix_signal_add(
            sig,
            [](gpointer p) -> gboolean {
                kill(static_cast<Run*>(p)->child, SIGTERM);
                return G_SOURCE_CONTINUE;
            },
            &run);
    }
    g_main_loop_run(run.loop);
    g_main_loop_unref(run.loop);
    if (control.fd >= 0)
        close(control.fd);
    for (Timed* t : timed)
        delete t;
    if (WIFEXITED(run.status))
        return WEXITSTATUS(run.status);
    return WIFSIGNALED(run.status) ? 128 + WTERMSIG(run.status) : 1;
}

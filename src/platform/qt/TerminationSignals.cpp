// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/qt/TerminationSignals.h"

#include "base/Diagnostics.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin::qt {

namespace {
int signalPipe[2] = {-1, -1}; // [0] written by the handler, [1] read on the GUI thread
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
} // namespace

void TerminationSignals::catchSignals() {
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        base::appLog.warning("termination signals will end the program without saving its settings\n");
        return;
    }
    struct sigaction action = {};
    action.sa_handler = &TerminationSignals::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    catchSignals();
    if (signalPipe[1] < 0)
        return;
    notifier_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignal(); });
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_)
        return;
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
    delete notifier_;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void TerminationSignals::handler(int signal) {
    // Only async-signal-safe work here: one byte into the pipe.
    const char byte = static_cast<char>(signal);
    const ssize_t written = ::write(signalPipe[0], &byte, 1);
    (void)written;
}

void TerminationSignals::readSignal() {
    char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1 && onSignal_)
        onSignal_();
}

} // namespace tavrin::qt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace tavrin::qt {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the GUI thread, so that Ctrl+C
// in a terminal or the end of the session closes the program the ordinary way
// (recording finished, settings saved) instead of killing it. One per process.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

    // Catches the signals from now on, before any event loop or object exists: one
    // that comes early waits for the object and its first event loop. The
    // constructor calls it too.
    static void catchSignals();

  private:
    static void handler(int signal);
    void readSignal();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tavrin::qt

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ConsoleToggle.h"
#include "base/DiagnosticBuffer.h"

#include <QPlainTextEdit>

#include <functional>

namespace tavrin::qt {

// "Tavrin Capture - Debug": shows the diagnostic text written while it is open,
// the newest 500 lines, in a fixed-pitch font. Text written on any thread is
// handed over by posting; the window only ever touches it on its own thread.
class ConsoleWindow : public QPlainTextEdit, public app::ConsoleView {
    Q_OBJECT
  public:
    static constexpr int kLines = 500;

    explicit ConsoleWindow(QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    bool createConsole() override;
    void destroyConsole() override;
    bool shown() const { return mirrorId_ != 0; }

    // Called when the user closes the window itself.
    void setClosedHandler(std::function<void()> handler) { closedHandler_ = std::move(handler); }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void appendPending();

    base::DiagnosticBuffer pending_{kLines};
    int mirrorId_ = 0;
    std::function<void()> closedHandler_;
};

} // namespace tavrin::qt

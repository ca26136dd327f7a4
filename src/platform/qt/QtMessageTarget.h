// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/FrameSink.h"

#include <QObject>

#include <functional>

namespace tavrin::qt {

// Receives the program's messages and frames from any thread by posting them to
// itself; the handlers run later on the thread this object lives in. Posting never
// waits. Keep it alive while any thread may still post to it; frames still queued
// when it goes are let go of.
class QtMessageTarget : public QObject, public device::FrameSink {
    Q_OBJECT
  public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
    using FrameHandler = std::function<void(device::FrameRef frame)>;

    explicit QtMessageTarget(QObject* parent = nullptr);

    // Set on the receiving thread, before messages are expected.
    void setHandler(Handler handler);
    // Without one, frames are let go of as they arrive.
    void setFrameHandler(FrameHandler handler);
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void postFrame(device::FrameRef frame) override;

  protected:
    bool event(QEvent* event) override;

  private:
    Handler handler_;
    FrameHandler frameHandler_;
};

} // namespace tavrin::qt

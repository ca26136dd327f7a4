// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Messages.h"

#include <QObject>

#include <functional>

namespace tavrin::qt {

// Receives the program's messages from any thread by posting them to itself;
// the handler runs later on the thread this object lives in. Posting never waits.
// Keep it alive while any thread may still post to it.
class QtMessageTarget : public QObject, public base::MessageTarget {
    Q_OBJECT
  public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    explicit QtMessageTarget(QObject* parent = nullptr);

    // Set on the receiving thread, before messages are expected.
    void setHandler(Handler handler);
    void postMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  protected:
    bool event(QEvent* event) override;

  private:
    Handler handler_;
};

} // namespace tavrin::qt

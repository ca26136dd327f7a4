// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "fakes/Eventually.h"

#include <QTest>

namespace tavrin::testing {

// eventually() on a Qt thread: the thread's events (the window system's, posted
// messages, timers) are handled while it waits, so what it waits for can happen.
template <typename Pred>
bool eventuallyWithEvents(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return eventually(pred, limit, [] { QTest::qWait(10); });
}

} // namespace tavrin::testing

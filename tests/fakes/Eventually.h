// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <thread>

namespace tavrin::testing {

// What eventually() does between two looks unless told otherwise.
inline void pauseBriefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The one way a test waits for what another thread (or process, or window system)
// does: looks at `pred` until it holds or `limit` has passed, running `between`
// from one look to the next (a 10 ms pause, or the waiting loop's own step such as
// handling its messages). Whether it held.
template <typename Pred, typename Between = void (*)()>
bool eventually(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(5),
                Between between = pauseBriefly) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        between();
    }
    return true;
}

} // namespace tavrin::testing

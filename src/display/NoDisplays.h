// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Settings.h"
#include "display/DisplayTarget.h"

namespace tavrin::display {

// Stands in while a front end has no display windows: the layout is only stored,
// and every frame goes straight back to the pool.
class NoDisplays final : public DisplayManager {
  public:
    explicit NoDisplays(base::Settings& settings) : settings_(settings) {}
    void applyDisplayMode(int layoutId, bool split) override {
        settings_.displayMode = layoutId;
        settings_.splitWindows = split ? 1 : 0;
    }
    void destroyDisplayWindows() override {}
    DisplayTarget* mainDisplay() override { return nullptr; }
    DisplayTarget* bottomDisplay() override { return nullptr; }
    void applyTopmost() override {}
    void focusMainDisplay() override {}

  private:
    base::Settings& settings_;
};

} // namespace tavrin::display

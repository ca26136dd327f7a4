// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPushButton>

namespace tavrin::qt {

// A check box that looks like a push button and does not toggle itself: a click
// only reports the click, and the window sets the check state from what happened.
class RecordButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  protected:
    void nextCheckState() override {}
};

} // namespace tavrin::qt

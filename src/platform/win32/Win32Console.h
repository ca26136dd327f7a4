// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "app/ConsoleToggle.h"

namespace tavrin::win32 {

// The debug console as a real console window of the process ("Tavrin Capture -
// Debug", 500 lines), to which the runtime's standard streams are attached while it
// is open. Closing its window would end the whole process, so its close item is
// taken away: the control window's command closes it.
class Win32Console final : public app::ConsoleView {
  public:
    bool createConsole() override;
    void destroyConsole() override;
};

} // namespace tavrin::win32

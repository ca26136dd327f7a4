// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QWindow;

namespace tavrin::qt_display::x11 {

// What the display windows need of X11 beyond Qt's own window handling. Everything
// here does nothing (or answers false) on another window system.

// The program runs on an X server.
bool available();

// A window manager runs on the X server (it announces itself on the root window as
// the extended window manager hints ask). Without one, windows go exactly where
// they are put and nothing places, frames or enlarges them.
bool windowManagerRunning();

// A mouse button is held down anywhere on the screen, e.g. on a frame corner that
// the window manager is dragging. The client sees no other sign that an
// interactive resize has not ended yet.
bool pointerButtonsDown();

// Keeps the aspect ratio num:den in the window's ICCCM size hints (WM_NORMAL_HINTS),
// so that the window manager holds it during an interactive resize. Qt rewrites
// those hints without an aspect whenever the geometry or the size limits change;
// each rewrite is followed here and the aspect put back. num or den 0 removes the
// aspect (maximised or full screen, where the window must be free to take the size
// the window manager gives). Needs the native window: call after QWindow::create().
// Answers whether the window carried an aspect before.
bool setAspectHint(QWindow* window, int num, int den);

// Asks the window manager to maximise the window anew: off, then on again (asking for
// a state the window has changes nothing). A manager that maximised the window while
// it carried an aspect may have kept it in the size (KWin, also through XWayland,
// gives a picture-shaped window as high as the screen) and does not size it again
// when the aspect goes; maximised anew, it fills the work area.
void remaximize(QWindow* window);

// The window is going away: stop following its hints.
void forgetWindow(QWindow* window);

} // namespace tavrin::qt_display::x11

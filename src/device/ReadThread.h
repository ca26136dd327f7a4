// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>

namespace tavrin::device {

class CaptureSession;

// Builds the frame pool and starts read_thread ("tavrin-read"): pool frame ->
// device -> outcome -> control window. False when either fails.
bool usbThread_start(CaptureSession& session);

// Asks the thread to stop, wakes it out of its pool wait or error pause and
// waits up to `limit` for it to end, then joins it. Returns whether it ended;
// if not (a device read outlasting the limit), the thread is named in a warning
// and left running, and the session must stay until readThreadEnded().
bool usbThread_stop(CaptureSession& session, std::chrono::milliseconds limit);

} // namespace tavrin::device

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>

namespace tavrin::device {

struct CaptureSession;

// Builds the frame pool and starts read_thread. False when either fails.
bool usbThread_start(CaptureSession& session);

// The thread body: pool frame -> device -> outcome -> control window.
void read_thread(CaptureSession& session);

// Sets the stop flag, wakes the thread out of its pool wait or error pause and
// waits up to `limit` for it to end, then joins it. Returns whether it ended; if
// not (a device read outlasting the limit), the thread is left to end with the process.
bool usbThread_stop(CaptureSession& session, std::chrono::milliseconds limit);

} // namespace tavrin::device

#pragma once

#include <chrono>

namespace tavrin::app {
struct CaptureApp;
}

namespace tavrin::device {

// Builds the frame pool and starts read_thread. False when either fails.
bool usbThread_start(app::CaptureApp& app);

// The thread body: pool frame -> device -> outcome -> control window.
void read_thread(app::CaptureApp& app);

// Sets the stop flag and waits up to `limit` for the thread to end. Returns
// whether it ended; if not, the thread is left to end with the process.
bool stopReadThread(app::CaptureApp& app, std::chrono::milliseconds limit);

} // namespace tavrin::device

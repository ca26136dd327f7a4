// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "update/HttpGet.h"
#include "update/SettingsKey.h"
#include "update/UpdatePrompt.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavrin::update {

// The version of this release; a version file announcing more offers an update.
constexpr int32_t kRunningVersion = 4;
// Hours between two checks.
constexpr uint32_t kCheckInterval = 48;
inline constexpr const char* kVersionFilePath = "/tavrin/tavrin_capture_version.txt";
inline constexpr const char* kUserAgent = "updateCheck";

// The occasional check for a newer release: at most once per run, at most
// once in 48 hours, on a thread of its own. `http` and `prompt` must outlive it.
class UpdateCheck {
  public:
    using Clock = std::function<uint32_t()>;

    // `keyFolder` holds the per-user values (SettingsKey::defaultFolder() in the
    // program); `now` gives the current hourStamp.
    UpdateCheck(std::string keyFolder, HttpGet& http, UpdatePrompt& prompt, Clock now = Clock());
    // A check still running is cancelled and waited for (the request gives up
    // at once; the prompt, if any, is already with the control window).
    ~UpdateCheck() = default;
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Main thread, once at start-up: starts the check thread when it is due.
    void scheduleUpdateCheck();
    // True when the key is open (already, or now). A new key gets "DisableUpdateCheck" = 0.
    bool openSettingsKey();
    // The check thread's body.
    int updateCheckThread();
    // Evaluates the first `count` bytes of the receive buffer as a version file
    // and offers the update when it is new. Needs the key open.
    void parseVersionFile(int count);

    // Waits until a started check thread has ended.
    void waitForCheck();
    bool settingsKeyOpen() const { return settingsKey_ != nullptr; }
    // 2048 bytes, zero-filled before a body is read into it.
    std::array<char, 2048>& receiveBuffer() { return receiveBuffer_; }

  private:
    std::string keyFolder_;
    HttpGet& http_;
    UpdatePrompt& prompt_;
    Clock now_;
    // Handed from the main thread to the check thread when it starts.
    std::unique_ptr<SettingsKey> settingsKey_;
    std::array<char, 2048> receiveBuffer_{};
    // "tavrin-update". Declared last: it goes first, while what it uses is there.
    base::Worker worker_;
};

} // namespace tavrin::update

// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/UpdateCheck.h"

#include "base/Diagnostics.h"
#include "update/HourStamp.h"
#include "update/VersionFile.h"

#include <algorithm>
#include <chrono>

namespace tavrin::update {

UpdateCheck::UpdateCheck(std::string keyFolder, HttpGet& http, UpdatePrompt& prompt, Clock now)
    : keyFolder_(std::move(keyFolder)), http_(http), prompt_(prompt),
      now_(now ? std::move(now) : Clock(currentHourStamp)) {}

void UpdateCheck::waitForCheck() {
    while (!worker_.join(std::chrono::seconds(10))) {
    }
}

bool UpdateCheck::openSettingsKey() {
    if (settingsKey_)
        return true;
    bool created = false;
    settingsKey_ = SettingsKey::open(keyFolder_, created);
    if (!settingsKey_)
        return false;
    if (created)
        settingsKey_->writeDword("DisableUpdateCheck", 0);
    return true;
}

void UpdateCheck::scheduleUpdateCheck() {
    // One check per run: a second call while or after one ran does nothing.
    if (worker_.started() || !openSettingsKey())
        return;
    const uint32_t now = now_();
    const uint32_t disabled = settingsKey_->readDword("DisableUpdateCheck");
    const uint32_t lastChecked = settingsKey_->readDword("LastChecked");
    // Unsigned on purpose: a stamp from the future (clock set back) also lets it run.
    if (disabled == 0 && uint32_t(now - lastChecked) >= kCheckInterval) {
        settingsKey_->writeDword("LastChecked", now);
        // A stop (the program ending) makes the request give up at once.
        if (worker_.start(
                "tavrin-update", [this](const base::WorkerControl&) { updateCheckThread(); },
                [this] { http_.cancel(); }))
            return; // the key now belongs to the thread
        // No thread: close the key as when no check is due.
    }
    settingsKey_.reset();
}

int UpdateCheck::updateCheckThread() {
    base::updateLog.debug("software update check\n");
    if (http_.open(kUserAgent)) {
        base::updateLog.debug("connect\n");
        if (http_.connect()) {
            base::updateLog.debug("openrequest\n");
            if (http_.openRequest(kVersionFilePath)) {
                base::updateLog.debug("sendrequest\n");
                if (http_.sendRequest()) {
                    receiveBuffer_.fill(0);
                    const int limit = int(receiveBuffer_.size()) - 1;
                    int total = 0;
                    for (;;) {
                        const long n =
                            http_.readBody(receiveBuffer_.data() + total, std::size_t(limit - total));
                        if (n < 0)
                            break; // a failed read: nothing is parsed
                        if (n == 0) {
                            parseVersionFile(total);
                            break;
                        }
                        total += int(std::min<long>(n, limit - total));
                    }
                }
            }
        }
    }
    http_.close();
    settingsKey_.reset();
    return 0;
}

void UpdateCheck::parseVersionFile(int count) {
    const VersionFile file =
        readVersionFile(receiveBuffer_.data(), std::min(count, int(receiveBuffer_.size()) - 1));
    if (!file.valid)
        return;
    base::updateLog.info("found v%d\n", file.version);
    if (!settingsKey_)
        return;
    const int32_t lastSeen = static_cast<int32_t>(settingsKey_->readDword("LastVersionSeen"));
    if (file.version <= lastSeen)
        return;
    settingsKey_->writeDword("LastVersionSeen", static_cast<uint32_t>(file.version));
    // Only a web address is handed to the desktop's opener: the file comes from the network.
    if (file.version > kRunningVersion && isWebAddress(file.url))
        prompt_.offerUpdate(file.url);
}

} // namespace tavrin::update

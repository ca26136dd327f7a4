// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "update/HttpGet.h"
#include "update/UpdatePrompt.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::testing {

// Serves a prepared body in small pieces and records the steps it was asked
// for. `failAt` names the step that fails ("open", "connect", "openRequest",
// "sendRequest", "read"); `blockInSend` makes sendRequest wait for cancel().
class FakeHttpGet : public update::HttpGet {
  public:
    bool open(const std::string& userAgent) override {
        record("open");
        agent = userAgent;
        return failAt != "open";
    }
    bool connect() override {
        record("connect");
        return failAt != "connect";
    }
    bool openRequest(const std::string& requestPath) override {
        record("openRequest");
        path = requestPath;
        return failAt != "openRequest";
    }
    bool sendRequest() override {
        record("sendRequest");
        if (blockInSend) {
            std::unique_lock lk(mutex_);
            cv_.wait(lk, [this] { return cancelled_; });
            return false;
        }
        offset_ = 0;
        return failAt != "sendRequest";
    }
    long readBody(char* buffer, std::size_t max) override {
        std::lock_guard lk(mutex_);
        largestAsk = std::max(largestAsk, max);
        if (offset_ >= body.size())
            return 0;
        if (failAt == "read" && offset_ >= body.size() / 2)
            return -1;
        const std::size_t n = std::min({max, body.size() - offset_, std::size_t(100)});
        std::memcpy(buffer, body.data() + offset_, n);
        offset_ += n;
        return long(n);
    }
    void close() override { record("close"); }
    void cancel() override {
        std::lock_guard lk(mutex_);
        cancelled_ = true;
        cv_.notify_all();
    }

    std::vector<std::string> steps() const {
        std::lock_guard lk(mutex_);
        return steps_;
    }

    std::string body;
    std::string failAt;
    bool blockInSend = false;
    std::string agent;
    std::string path;
    std::size_t largestAsk = 0;

  private:
    void record(const char* step) {
        std::lock_guard lk(mutex_);
        steps_.push_back(step);
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> steps_;
    std::size_t offset_ = 0;
    bool cancelled_ = false;
};

class FakeUpdatePrompt : public update::UpdatePrompt {
  public:
    void offerUpdate(const std::string& url) override {
        std::lock_guard lk(mutex_);
        urls_.push_back(url);
    }
    std::vector<std::string> urls() const {
        std::lock_guard lk(mutex_);
        return urls_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> urls_;
};

} // namespace tavrin::testing

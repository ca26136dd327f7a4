// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/StatusLine.h"
#include "screenshot/FolderChooser.h"
#include "screenshot/PngEncoder.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tavrin::testing {

class FakeStatusLine : public base::StatusLine {
  public:
    void setStatusText(const std::string& text) override {
        std::lock_guard lk(mutex_);
        texts_.push_back(text);
    }
    std::vector<std::string> texts() const {
        std::lock_guard lk(mutex_);
        return texts_;
    }
    std::string last() const {
        std::lock_guard lk(mutex_);
        return texts_.empty() ? std::string() : texts_.back();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

// Answers with a prepared path ("" = the user cancelled) and records the question.
class FakeFolderChooser : public screenshot::FolderChooser {
  public:
    std::string chooseFolder(const std::string& title, const std::string& startFolder) override {
        titles.push_back(title);
        starts.push_back(startFolder);
        return answer;
    }
    std::string answer;
    std::vector<std::string> titles;
    std::vector<std::string> starts;
};

// Records what it was asked to encode; the "PNG" is a short header plus the
// raw pixels, so a test can see exactly what reached the file. `during`
// runs inside the encode call (on the worker), `error` makes it fail.
class FakePngEncoder : public screenshot::PngEncoder {
  public:
    struct Call {
        unsigned width;
        unsigned height;
        std::vector<uint8_t> pixels;
    };

    unsigned encodeRgb(const uint8_t* pixels, unsigned width, unsigned height,
                       std::vector<uint8_t>& png) override {
        std::function<void()> hook;
        {
            std::lock_guard lk(mutex_);
            calls_.push_back(
                {width, height, std::vector<uint8_t>(pixels, pixels + std::size_t(width) * height * 3)});
            hook = during;
        }
        if (hook)
            hook();
        if (error)
            return error;
        const std::string header = "FAKEPNG " + std::to_string(width) + "x" + std::to_string(height) + "\n";
        png.assign(header.begin(), header.end());
        png.insert(png.end(), pixels, pixels + std::size_t(width) * height * 3);
        return 0;
    }
    std::vector<Call> calls() const {
        std::lock_guard lk(mutex_);
        return calls_;
    }

    std::function<void()> during;
    unsigned error = 0;

  private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

} // namespace tavrin::testing

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device/ZlibInflater.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace tavrin::testing {

// A synthetic firmware image with the layout of the one the program ships: 4,576 bytes,
// an 8-byte header starting with 0xC2, records of pseudo-random data for the processor,
// and the last record (0x8001 at 0xE600 with the one byte 0x00).
std::vector<uint8_t> makeFirmwareTestImage(bool withLastRecord = true);

// The same records without a last record: the image simply ends after them.
inline std::vector<uint8_t> makeFirmwareTestImageWithoutLastRecord() {
    return makeFirmwareTestImage(false);
}

// Appends a record to `image`.
void appendFirmwareRecord(std::vector<uint8_t>& image, uint16_t length, uint16_t address,
                          const std::vector<uint8_t>& data);

// Stands in for the zlib decoder in core tests: "inflates" any non-empty stream to the
// image it was given, or fails when told to.
class FakeInflater : public device::ZlibInflater {
  public:
    explicit FakeInflater(std::vector<uint8_t> image = {}) : image_(std::move(image)) {}
    bool inflate(std::span<const uint8_t> stream, std::size_t maxOutput,
                 std::vector<uint8_t>& out) const override {
        std::lock_guard lk(mutex_);
        out.clear();
        if (fail_ || stream.empty() || image_.size() > maxOutput)
            return false;
        out = image_;
        return true;
    }
    void setImage(std::vector<uint8_t> image) {
        std::lock_guard lk(mutex_);
        image_ = std::move(image);
    }
    void setFailing(bool fail) {
        std::lock_guard lk(mutex_);
        fail_ = fail;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> image_;
    bool fail_ = false;
};

// A stand-in for the program's zlib container; FakeInflater ignores its content.
inline const std::vector<uint8_t> kFakeContainer = {0x78, 0x9C, 0x01};

} // namespace tavrin::testing

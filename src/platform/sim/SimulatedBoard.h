#pragma once

#include "device/UsbTransport.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::sim {

// A board with no hardware behind it: answers the vendor requests, produces a
// moving test picture on both screens at a chosen rate and injects faults on demand.
// It stands behind the same transport interface as the libusb one.
class SimulatedBoard : public device::UsbTransport {
  public:
    struct Options {
        int framesPerSecond = 60;                // 0: as fast as asked
        std::optional<uint16_t> version = 4;     // nullopt: the version request fails
        bool present = true;
    };

    SimulatedBoard();
    explicit SimulatedBoard(Options options);
    ~SimulatedBoard() override;

    std::vector<std::string> listInterfaces() override;
    std::unique_ptr<device::UsbConnection> open(const std::string& path) override;

    // --- faults and settings, callable from any thread ---
    void setVersion(std::optional<uint16_t> version);
    void setFramesPerSecond(int fps);
    // Unplug (every open connection then fails as "gone") or plug back in.
    void setPresent(bool present);
    void setOpenRefused(bool refused);
    // The next frame reads deliver these byte counts instead of a whole frame (0 allowed).
    void queueShortReads(const std::vector<uint32_t>& counts);
    // The next `n` start-of-frame requests time out.
    void queueStartTimeouts(int n);
    // The next `n` start-of-frame requests fail for another reason.
    void queueStartFailures(int n);
    // Completes the outstanding status read, as the board would now and then.
    void completeStatusRead();

    // --- observations ---
    uint64_t framesDelivered() const;
    int statusReadsStarted() const;
    int openConnections() const;
    std::vector<device::UsbSetup> controlRequests() const;
    uint32_t pipeTimeout(uint8_t pipe) const;

    // Fills `buffer` (at least 196,608 bytes) with test picture number `n`.
    static void renderPicture(uint64_t n, uint8_t* buffer);

    static constexpr const char* kPath = "sim:tavrin-board-0";

  private:
    class Connection;
    friend class Connection;

    device::TransferResult control(uint64_t generation, const device::UsbSetup& setup, uint8_t* data);
    device::TransferResult read(uint64_t generation, uint8_t pipe, uint8_t* buffer, uint32_t length);
    bool startAsync(uint64_t generation, uint8_t pipe);
    bool asyncPending(uint64_t generation, uint8_t pipe);
    bool setTimeout(uint64_t generation, uint8_t pipe, uint32_t ms);
    void connectionClosed(uint64_t generation);

    mutable std::mutex mutex_;
    Options options_;
    uint64_t generation_ = 1; // bumps when the board leaves the bus
    bool openRefused_ = false;
    bool frameRequested_ = false;
    std::deque<uint32_t> shortReads_;
    int startTimeouts_ = 0;
    int startFailures_ = 0;
    bool statusPending_ = false;
    int statusReadsStarted_ = 0;
    int openConnections_ = 0;
    uint64_t framesDelivered_ = 0;
    uint64_t pictureNumber_ = 0;
    std::chrono::steady_clock::time_point nextFrameAt_{};
    uint32_t pipeTimeouts_[3] = {0, 0, 0};
    std::vector<device::UsbSetup> controlLog_;
};

} // namespace tavrin::sim

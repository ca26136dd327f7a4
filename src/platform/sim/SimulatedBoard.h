// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Worker.h"
#include "device/UsbTransport.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::sim {

// A board with no hardware behind it: answers the vendor requests, produces a
// moving test picture on both screens at a chosen rate and injects faults on demand.
// It stands behind the same transport interface as the libusb one.
//
// For the firmware update it has a firmware memory (64 KiB, 16-bit addresses, written
// in 32-byte pages, read back from an address set beforehand) and the processor's
// memory, written by request 0xA0, whose byte at 0xE600 holds the processor in reset
// while it is 1. Once the processor runs again, the firmware it was given answers the
// disconnect request: the board leaves the bus and comes back, as a new arrival, with
// the version of the firmware now in its firmware memory.
class SimulatedBoard : public device::UsbTransport {
  public:
    struct Options {
        int framesPerSecond = 60;            // 0: as fast as asked
        std::optional<uint16_t> version = 4; // nullopt: the version request fails
        bool present = true;
        // The version a board reports after it starts from firmware written by an update.
        uint16_t updatedVersion = 4;
        // How long the board is away from the bus after the disconnect request.
        std::chrono::milliseconds reconnectDelay{50};
        // How long the firmware memory is busy programming a page; read-backs stall meanwhile.
        std::chrono::microseconds pageWriteTime{0};
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
    // The next frame reads deliver these byte counts (whole packets) and then nothing until
    // the pipe's time-out, which ends them with what arrived.
    void queueStalledReads(const std::vector<uint32_t>& counts);
    // The next `n` start-of-frame requests time out.
    void queueStartTimeouts(int n);
    // The next `n` start-of-frame requests fail for another reason.
    void queueStartFailures(int n);
    // Completes the outstanding status read, as the board would now and then.
    void completeStatusRead();

    // Called on the board's own thread whenever it arrives on the bus (plugged in again,
    // or back after the disconnect request). It must only hand the news on.
    bool setArrivalObserver(std::function<void()> observer) override;
    // Firmware-memory faults: the next `n` read-back requests (reads of the memory) stall;
    // n < 0 refuses every one from now on, 0 stops refusing.
    void refuseReadBacks(int n);
    // The next `n` page writes are refused.
    void queuePageWriteFailures(int n);
    // The next `n` page writes are stored with one byte changed.
    void queuePageWriteCorruptions(int n);
    // The request that puts the processor in reset fails.
    void setCpuResetFails(bool fails);
    // The next `n` record writes to the processor's memory (request 0xA0 anywhere but the
    // reset register) are refused.
    void queueProcessorWriteFailures(int n);
    // The disconnect request fails.
    void setDisconnectFails(bool fails);
    // Setting a pipe's time-out fails.
    void setPipePolicyRefused(bool refused);
    // Fills the firmware memory at `address` (no page rules), e.g. for read tests.
    void writeFirmwareMemory(uint16_t address, const std::vector<uint8_t>& bytes);
    // The next read of the firmware memory delivers only `count` bytes.
    void queueShortMemoryRead(uint16_t count);

    // --- observations ---
    uint64_t framesDelivered() const;
    int statusReadsStarted() const;
    int openConnections() const;
    std::vector<device::UsbSetup> controlRequests() const;
    uint32_t pipeTimeout(uint8_t pipe) const;
    std::vector<uint8_t> firmwareMemory() const;
    std::vector<uint8_t> processorMemory() const;
    // Addresses of the pages stored, in the order they were written.
    std::vector<uint16_t> pageWrites() const;
    // (address, length) of each request 0xA0, in order.
    std::vector<std::pair<uint16_t, uint16_t>> processorWrites() const;
    bool processorHeld() const;
    int arrivals() const;

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
    device::TransferResult firmwareMemoryRequest(const device::UsbSetup& setup, uint8_t* data,
                                                 std::unique_lock<std::mutex>& lk);
    device::TransferResult processorRequest(const device::UsbSetup& setup, const uint8_t* data);
    void leaveBusLocked();
    void announceArrivalLocked();
    void reconnectLoop();
    // Under mutex_: starts the thread once, and wakes it.
    void startReconnectThreadLocked();

    mutable std::mutex mutex_;
    Options options_;
    uint64_t generation_ = 1; // bumps when the board leaves the bus
    bool openRefused_ = false;
    bool frameRequested_ = false;
    std::deque<uint32_t> shortReads_;
    std::deque<uint32_t> stalledReads_;
    int processorWriteFailures_ = 0;
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

    // Firmware update.
    std::vector<uint8_t> firmwareMemory_;
    std::vector<uint8_t> processorMemory_;
    uint16_t memoryAddress_ = 0;
    std::chrono::steady_clock::time_point memoryBusyUntil_{};
    bool processorHeld_ = false;
    bool newFirmwareRunning_ = false; // the processor restarted on uploaded firmware
    int readBackRefusals_ = 0;
    int pageWriteFailures_ = 0;
    int pageWriteCorruptions_ = 0;
    bool cpuResetFails_ = false;
    bool disconnectFails_ = false;
    bool pipePolicyRefused_ = false;
    std::deque<uint16_t> shortMemoryReads_;
    std::vector<uint16_t> pageWrites_;
    std::vector<std::pair<uint16_t, uint16_t>> processorWrites_;
    std::function<void()> arrivalObserver_;
    int pendingArrivals_ = 0;
    int arrivals_ = 0;

    // The board's own thread, which brings it back after a disconnect.
    std::condition_variable reconnectCv_;
    std::optional<std::chrono::steady_clock::time_point> reconnectAt_;
    bool stopping_ = false;
    // "tavrin-sim". Declared last: it goes first, while what it uses is there.
    base::Worker reconnectThread_;
};

} // namespace tavrin::sim

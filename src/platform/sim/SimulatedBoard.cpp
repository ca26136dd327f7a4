// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/sim/SimulatedBoard.h"

#include "device/CaptureFrame.h"
#include "device/VendorRequests.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tavrin::sim {

using device::TransferResult;
using device::UsbError;
using device::UsbSetup;

namespace {

int pipeSlot(uint8_t pipe) {
    switch (pipe) {
    case device::kFramePipe:
        return 1;
    case device::kStatusPipe:
        return 2;
    default:
        return 0;
    }
}

TransferResult fail(UsbError error, uint32_t transferred = 0) {
    return {false, transferred, error};
}
TransferResult done(uint32_t transferred) {
    return {true, transferred, UsbError::None};
}

uint16_t rgbWord(int r5, int g6, int b5) {
    return static_cast<uint16_t>(((r5 & 31) << 11) | ((g6 & 63) << 5) | (b5 & 31));
}

} // namespace

class SimulatedBoard::Connection : public device::UsbConnection {
  public:
    Connection(SimulatedBoard& board, uint64_t generation) : board_(board), generation_(generation) {}
    ~Connection() override { board_.connectionClosed(generation_); }

    bool setPipeTimeout(uint8_t pipe, uint32_t ms) override {
        return board_.setTimeout(generation_, pipe, ms);
    }
    bool setRawIo(uint8_t, bool) override { return true; }
    TransferResult controlTransfer(const UsbSetup& setup, uint8_t* data) override {
        return board_.control(generation_, setup, data);
    }
    TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
        return board_.read(generation_, pipe, buffer, length);
    }
    bool startAsyncRead(uint8_t pipe, uint8_t*, uint32_t) override {
        return board_.startAsync(generation_, pipe);
    }
    bool asyncReadPending(uint8_t pipe) override { return board_.asyncPending(generation_, pipe); }

  private:
    SimulatedBoard& board_;
    uint64_t generation_;
};

namespace {
constexpr uint16_t kFirmwareMemorySelect = 0x00A2;
constexpr uint16_t kResetRegister = 0xE600;
constexpr std::size_t kMemoryBytes = 65536;
constexpr std::size_t kPageBytes = 32;
constexpr uint16_t kMaxControlData = 4096;
// A stalled control transfer still takes a bus frame or so on a real bus.
constexpr auto kStallTime = std::chrono::milliseconds(1);
// The first byte of a firmware image the board starts from.
constexpr uint8_t kBootableHeader = 0xC2;
} // namespace

SimulatedBoard::SimulatedBoard() : SimulatedBoard(Options{}) {}
SimulatedBoard::SimulatedBoard(Options options)
    : options_(options), firmwareMemory_(kMemoryBytes, 0xFF), processorMemory_(kMemoryBytes, 0) {}

SimulatedBoard::~SimulatedBoard() {
    {
        std::lock_guard lk(mutex_);
        stopping_ = true;
    }
    reconnectCv_.notify_all();
    // reconnectThread_ goes first of the members and waits for the thread.
}

std::vector<std::string> SimulatedBoard::listInterfaces() {
    std::lock_guard lk(mutex_);
    if (!options_.present)
        return {};
    return {kPath};
}

std::unique_ptr<device::UsbConnection> SimulatedBoard::open(const std::string& path) {
    std::lock_guard lk(mutex_);
    if (!options_.present || openRefused_ || path != kPath)
        return nullptr;
    ++openConnections_;
    statusPending_ = false;
    frameRequested_ = false;
    return std::make_unique<Connection>(*this, generation_);
}

void SimulatedBoard::connectionClosed(uint64_t generation) {
    std::lock_guard lk(mutex_);
    --openConnections_;
    if (generation == generation_)
        statusPending_ = false; // closing cancels the outstanding read
}

bool SimulatedBoard::setTimeout(uint64_t generation, uint8_t pipe, uint32_t ms) {
    std::lock_guard lk(mutex_);
    if (generation != generation_ || pipePolicyRefused_)
        return false;
    pipeTimeouts_[pipeSlot(pipe)] = ms;
    return true;
}

TransferResult SimulatedBoard::control(uint64_t generation, const UsbSetup& setup, uint8_t* data) {
    std::unique_lock lk(mutex_);
    if (generation != generation_ || !options_.present)
        return fail(UsbError::Gone);
    controlLog_.push_back(setup);
    // Linux's USB stack refuses control transfers with more data than this.
    if (setup.length > kMaxControlData)
        return fail(UsbError::Other);
    const bool in = (setup.requestType & 0x80) != 0;
    if (in ? setup.request == device::kRequestInMemory : setup.request == device::kRequestOutMemory)
        return firmwareMemoryRequest(setup, data, lk);
    if (!in && setup.request == device::kRequestOutCpuMemory)
        return processorRequest(setup, data);
    if (!in && setup.request == device::kRequestOutDisconnect) {
        // Only firmware the processor was restarted on knows this request.
        if (disconnectFails_ || !newFirmwareRunning_)
            return fail(UsbError::Other);
        leaveBusLocked();
        reconnectAt_ = std::chrono::steady_clock::now() + options_.reconnectDelay;
        startReconnectThreadLocked();
        return done(0);
    }

    if (in && setup.request == device::kRequestInVersion) {
        if (!options_.version || setup.length < 2)
            return fail(UsbError::Other);
        data[0] = static_cast<uint8_t>(*options_.version & 0xFF);
        data[1] = static_cast<uint8_t>(*options_.version >> 8);
        return done(2);
    }
    if (!in && setup.request == device::kRequestOutStartFrame) {
        if (startTimeouts_ > 0) {
            --startTimeouts_;
            return fail(UsbError::Timeout);
        }
        if (startFailures_ > 0) {
            --startFailures_;
            return fail(UsbError::Other);
        }
        frameRequested_ = true;
        return done(0);
    }
    return fail(UsbError::Other);
}

TransferResult SimulatedBoard::read(uint64_t generation, uint8_t pipe, uint8_t* buffer, uint32_t length) {
    std::unique_lock lk(mutex_);
    if (generation != generation_ || !options_.present)
        return fail(UsbError::Gone);
    if (pipe != device::kFramePipe)
        return fail(UsbError::Other);
    if (!frameRequested_) {
        // Nothing was asked for: the read waits out its time-out.
        const uint32_t timeout = pipeTimeouts_[1];
        lk.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout ? timeout : 100));
        return fail(UsbError::Timeout);
    }
    frameRequested_ = false;

    // Hold the frame back until its time on the simulated frame clock.
    if (options_.framesPerSecond > 0) {
        const auto period = std::chrono::nanoseconds(1'000'000'000LL / options_.framesPerSecond);
        const auto now = std::chrono::steady_clock::now();
        if (nextFrameAt_ < now - period)
            nextFrameAt_ = now; // after a pause, do not catch up with a burst
        const auto due = nextFrameAt_;
        nextFrameAt_ += period;
        lk.unlock();
        std::this_thread::sleep_until(due);
        lk.lock();
        if (generation != generation_ || !options_.present)
            return fail(UsbError::Gone);
    }

    const uint64_t picture = pictureNumber_++;
    std::optional<uint32_t> shortCount;
    bool stalled = false;
    if (!stalledReads_.empty()) {
        shortCount = stalledReads_.front();
        stalledReads_.pop_front();
        stalled = true;
    } else if (!shortReads_.empty()) {
        shortCount = shortReads_.front();
        shortReads_.pop_front();
    }
    const uint32_t stallTimeout = pipeTimeouts_[1];
    lk.unlock();

    // Whole packets only: the picture plus nothing in the spare packet.
    const uint32_t whole = std::min<uint32_t>(length, static_cast<uint32_t>(device::kPictureBytes));
    const uint32_t count = shortCount ? std::min(*shortCount, whole) : whole;
    if (count == whole && whole == device::kPictureBytes)
        renderPicture(picture, buffer);
    else
        std::memset(buffer, 0x5A, count);

    if (stalled) {
        // The rest never comes: the read ends at the pipe's time-out with what arrived.
        std::this_thread::sleep_for(std::chrono::milliseconds(stallTimeout ? stallTimeout : 100));
        return fail(UsbError::Timeout, count);
    }
    lk.lock();
    if (count == device::kPictureBytes)
        ++framesDelivered_;
    if (count == 0)
        return fail(UsbError::Timeout, 0);
    return done(count);
}

TransferResult SimulatedBoard::firmwareMemoryRequest(const UsbSetup& setup, uint8_t* data,
                                                     std::unique_lock<std::mutex>& lk) {
    if (setup.value != kFirmwareMemorySelect)
        return fail(UsbError::Other);
    const bool in = (setup.requestType & 0x80) != 0;
    if (!in && setup.length == 2) {
        memoryAddress_ = static_cast<uint16_t>(data[0] << 8 | data[1]);
        return done(2);
    }
    if (!in && setup.length == 2 + kPageBytes) {
        if (pageWriteFailures_ > 0) {
            --pageWriteFailures_;
            return fail(UsbError::Other);
        }
        const uint16_t address = static_cast<uint16_t>(data[0] << 8 | data[1]);
        for (std::size_t i = 0; i < kPageBytes; ++i)
            firmwareMemory_[(address + i) % kMemoryBytes] = data[2 + i];
        if (pageWriteCorruptions_ > 0) {
            --pageWriteCorruptions_;
            firmwareMemory_[(address + 7) % kMemoryBytes] ^= 0x40;
        }
        pageWrites_.push_back(address);
        memoryBusyUntil_ = std::chrono::steady_clock::now() + options_.pageWriteTime;
        return done(setup.length);
    }
    if (!in || setup.length == 0 || setup.length > 4096)
        return fail(UsbError::Other);
    const bool busy = std::chrono::steady_clock::now() < memoryBusyUntil_;
    if (readBackRefusals_ != 0 || busy) {
        if (readBackRefusals_ > 0 && !busy)
            --readBackRefusals_;
        lk.unlock();
        std::this_thread::sleep_for(kStallTime);
        return fail(UsbError::Other);
    }
    uint32_t count = setup.length;
    if (!shortMemoryReads_.empty()) {
        count = std::min<uint32_t>(count, shortMemoryReads_.front());
        shortMemoryReads_.pop_front();
    }
    for (uint32_t i = 0; i < count; ++i)
        data[i] = firmwareMemory_[(memoryAddress_ + i) % kMemoryBytes];
    memoryAddress_ = static_cast<uint16_t>(memoryAddress_ + count);
    return done(count);
}

TransferResult SimulatedBoard::processorRequest(const UsbSetup& setup, const uint8_t* data) {
    processorWrites_.emplace_back(setup.value, setup.length);
    if (setup.value != kResetRegister && processorWriteFailures_ > 0) {
        --processorWriteFailures_;
        return fail(UsbError::Other);
    }
    if (setup.value == kResetRegister && setup.length >= 1) {
        if (data[0] == 1) {
            if (cpuResetFails_)
                return fail(UsbError::Other);
            processorHeld_ = true;
            newFirmwareRunning_ = false;
        } else if (data[0] == 0 && processorHeld_) {
            processorHeld_ = false;
            newFirmwareRunning_ = true;
        }
    }
    for (std::size_t i = 0; i < setup.length && setup.value + i < kMemoryBytes; ++i)
        processorMemory_[setup.value + i] = data[i];
    return done(setup.length);
}

void SimulatedBoard::leaveBusLocked() {
    ++generation_;
    statusPending_ = false;
    frameRequested_ = false;
    options_.present = false;
}

void SimulatedBoard::reconnectLoop() {
    std::unique_lock lk(mutex_);
    while (!stopping_) {
        if (reconnectAt_ && std::chrono::steady_clock::now() >= *reconnectAt_) {
            reconnectAt_.reset();
            // The board starts from its firmware memory again.
            options_.version = firmwareMemory_[0] == kBootableHeader ? options_.updatedVersion : uint16_t{1};
            processorHeld_ = false;
            newFirmwareRunning_ = false;
            options_.present = true;
            ++pendingArrivals_;
        }
        if (pendingArrivals_ > 0) {
            --pendingArrivals_;
            ++arrivals_;
            std::function<void()> observer = arrivalObserver_;
            lk.unlock();
            if (observer)
                observer();
            lk.lock();
            continue;
        }
        if (reconnectAt_)
            reconnectCv_.wait_until(lk, *reconnectAt_);
        else
            reconnectCv_.wait(lk);
    }
}

void SimulatedBoard::announceArrivalLocked() {
    ++pendingArrivals_;
    startReconnectThreadLocked();
}

void SimulatedBoard::startReconnectThreadLocked() {
    if (!reconnectThread_.started())
        reconnectThread_.start("tavrin-sim", [this](const base::WorkerControl&) { reconnectLoop(); });
    reconnectCv_.notify_all();
}

bool SimulatedBoard::startAsync(uint64_t generation, uint8_t pipe) {
    std::lock_guard lk(mutex_);
    if (generation != generation_ || pipe != device::kStatusPipe || statusPending_)
        return false;
    statusPending_ = true;
    ++statusReadsStarted_;
    return false; // like the platform call: "failure" that means pending
}

bool SimulatedBoard::asyncPending(uint64_t generation, uint8_t pipe) {
    std::lock_guard lk(mutex_);
    return generation == generation_ && pipe == device::kStatusPipe && statusPending_;
}

void SimulatedBoard::setVersion(std::optional<uint16_t> version) {
    std::lock_guard lk(mutex_);
    options_.version = version;
}

void SimulatedBoard::setFramesPerSecond(int fps) {
    std::lock_guard lk(mutex_);
    options_.framesPerSecond = fps;
}

void SimulatedBoard::setPresent(bool present) {
    std::lock_guard lk(mutex_);
    if (options_.present && !present)
        leaveBusLocked();
    if (!options_.present && present) {
        reconnectAt_.reset();
        options_.present = true;
        announceArrivalLocked();
    }
}

void SimulatedBoard::setOpenRefused(bool refused) {
    std::lock_guard lk(mutex_);
    openRefused_ = refused;
}

void SimulatedBoard::queueShortReads(const std::vector<uint32_t>& counts) {
    std::lock_guard lk(mutex_);
    shortReads_.insert(shortReads_.end(), counts.begin(), counts.end());
}

void SimulatedBoard::queueStalledReads(const std::vector<uint32_t>& counts) {
    std::lock_guard lk(mutex_);
    stalledReads_.insert(stalledReads_.end(), counts.begin(), counts.end());
}

void SimulatedBoard::queueProcessorWriteFailures(int n) {
    std::lock_guard lk(mutex_);
    processorWriteFailures_ += n;
}

void SimulatedBoard::queueStartTimeouts(int n) {
    std::lock_guard lk(mutex_);
    startTimeouts_ += n;
}

void SimulatedBoard::queueStartFailures(int n) {
    std::lock_guard lk(mutex_);
    startFailures_ += n;
}

void SimulatedBoard::completeStatusRead() {
    std::lock_guard lk(mutex_);
    statusPending_ = false;
}

bool SimulatedBoard::setArrivalObserver(std::function<void()> observer) {
    std::lock_guard lk(mutex_);
    arrivalObserver_ = std::move(observer);
    return true;
}

void SimulatedBoard::refuseReadBacks(int n) {
    std::lock_guard lk(mutex_);
    readBackRefusals_ = n;
}

void SimulatedBoard::queuePageWriteFailures(int n) {
    std::lock_guard lk(mutex_);
    pageWriteFailures_ += n;
}

void SimulatedBoard::queuePageWriteCorruptions(int n) {
    std::lock_guard lk(mutex_);
    pageWriteCorruptions_ += n;
}

void SimulatedBoard::setCpuResetFails(bool fails) {
    std::lock_guard lk(mutex_);
    cpuResetFails_ = fails;
}

void SimulatedBoard::setDisconnectFails(bool fails) {
    std::lock_guard lk(mutex_);
    disconnectFails_ = fails;
}

void SimulatedBoard::setPipePolicyRefused(bool refused) {
    std::lock_guard lk(mutex_);
    pipePolicyRefused_ = refused;
}

void SimulatedBoard::writeFirmwareMemory(uint16_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard lk(mutex_);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        firmwareMemory_[(address + i) % kMemoryBytes] = bytes[i];
}

void SimulatedBoard::queueShortMemoryRead(uint16_t count) {
    std::lock_guard lk(mutex_);
    shortMemoryReads_.push_back(count);
}

std::vector<uint8_t> SimulatedBoard::firmwareMemory() const {
    std::lock_guard lk(mutex_);
    return firmwareMemory_;
}

std::vector<uint8_t> SimulatedBoard::processorMemory() const {
    std::lock_guard lk(mutex_);
    return processorMemory_;
}

std::vector<uint16_t> SimulatedBoard::pageWrites() const {
    std::lock_guard lk(mutex_);
    return pageWrites_;
}

std::vector<std::pair<uint16_t, uint16_t>> SimulatedBoard::processorWrites() const {
    std::lock_guard lk(mutex_);
    return processorWrites_;
}

bool SimulatedBoard::processorHeld() const {
    std::lock_guard lk(mutex_);
    return processorHeld_;
}

int SimulatedBoard::arrivals() const {
    std::lock_guard lk(mutex_);
    return arrivals_;
}

uint64_t SimulatedBoard::framesDelivered() const {
    std::lock_guard lk(mutex_);
    return framesDelivered_;
}

int SimulatedBoard::statusReadsStarted() const {
    std::lock_guard lk(mutex_);
    return statusReadsStarted_;
}

int SimulatedBoard::openConnections() const {
    std::lock_guard lk(mutex_);
    return openConnections_;
}

std::vector<UsbSetup> SimulatedBoard::controlRequests() const {
    std::lock_guard lk(mutex_);
    return controlLog_;
}

uint32_t SimulatedBoard::pipeTimeout(uint8_t pipe) const {
    std::lock_guard lk(mutex_);
    return pipeTimeouts_[pipeSlot(pipe)];
}

void SimulatedBoard::renderPicture(uint64_t n, uint8_t* buffer) {
    const int t = static_cast<int>(n % 4096);
    for (int row = 0; row < 192; ++row) {
        for (int p = 0; p < 256; ++p) {
            // Top screen: eight colour bars drifting right over a vertical green ramp.
            const int bar = ((p + t) / 32) & 7;
            const int ramp = row * 63 / 191;
            uint16_t top = rgbWord(bar & 4 ? 31 : 0, bar & 2 ? 63 : ramp / 2, bar & 1 ? 31 : 0);
            // Bottom screen: a checkerboard with a white square bouncing across it.
            const int bx = std::abs(((t * 2) % 448) - 224);
            const int by = std::abs(((t * 3) % 320) - 160);
            const bool inSquare = p >= bx && p < bx + 32 && row >= by && row < by + 32;
            const bool check = ((p / 16) + (row / 16)) & 1;
            uint16_t bottom = inSquare ? 0xFFFF : check ? rgbWord(4, 20, 16) : rgbWord(0, 8, 10);
            const std::size_t w = static_cast<std::size_t>(row) * 512 + 2 * p;
            buffer[2 * w] = static_cast<uint8_t>(bottom & 0xFF);
            buffer[2 * w + 1] = static_cast<uint8_t>(bottom >> 8);
            buffer[2 * w + 2] = static_cast<uint8_t>(top & 0xFF);
            buffer[2 * w + 3] = static_cast<uint8_t>(top >> 8);
        }
    }
    // The picture never starts with 0xFFFF unless it means to select the top screen.
    if (buffer[0] == 0xFF && buffer[1] == 0xFF)
        buffer[0] = 0xFE;
}

} // namespace tavrin::sim

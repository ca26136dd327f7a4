// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::device {

// Why a transfer failed, in the three meanings the protocol tells apart.
enum class UsbError {
    None,
    Gone,    // the board has left the bus (or stopped answering for good)
    Timeout, // the pipe's time-out passed
    Other,
};

struct UsbSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

struct TransferResult {
    bool ok = false;
    uint32_t transferred = 0; // bytes moved, also when the transfer failed part way
    UsbError error = UsbError::None;
};

constexpr uint8_t kControlPipe = 0x00;
constexpr uint8_t kFramePipe = 0x82;
constexpr uint8_t kStatusPipe = 0x86;

// One opened board interface.
class UsbConnection {
  public:
    virtual ~UsbConnection() = default;
    // Time-out in milliseconds for synchronous transfers on `pipe`; 0 = none.
    virtual bool setPipeTimeout(uint8_t pipe, uint32_t milliseconds) = 0;
    virtual bool setRawIo(uint8_t pipe, bool on) = 0;
    // `data` holds setup.length bytes: read for IN requests, written for OUT.
    virtual TransferResult controlTransfer(const UsbSetup& setup, uint8_t* data) = 0;
    // Synchronous bulk read; `transferred` counts the bytes that arrived even on time-out.
    virtual TransferResult readPipe(uint8_t pipe, uint8_t* buffer, uint32_t length) = 0;
    // Starts the one asynchronous read on `pipe` into `buffer`, which must stay valid
    // until the read completes or the connection is destroyed.
    virtual bool startAsyncRead(uint8_t pipe, uint8_t* buffer, uint32_t length) = 0;
    // True while the asynchronous read started above has not completed.
    virtual bool asyncReadPending(uint8_t pipe) = 0;
};

// Why an interface could not be opened.
enum class OpenFailure {
    None,
    NoPermission, // the board is there, but this user may not use it
    Other,
};

// The list of present board interfaces and how to open one.
class UsbTransport {
  public:
    virtual ~UsbTransport() = default;
    // Paths of the board interfaces present now, in a stable order.
    virtual std::vector<std::string> listInterfaces() = 0;
    // nullptr when the interface cannot be opened (a diagnostic line says why).
    virtual std::unique_ptr<UsbConnection> open(const std::string& path) = 0;
    // Why the last open() returned nullptr.
    virtual OpenFailure lastOpenFailure() const { return OpenFailure::Other; }
    // A transport that tells of its own boards arriving (the simulated board) calls
    // `observer` for each arrival, on a thread of its own, and returns true; an empty
    // observer stops the calls. The others return false: the system tells of theirs.
    virtual bool setArrivalObserver(std::function<void()> /*observer*/) { return false; }
};

// The 16 bytes of a device-interface class identifier, in memory order.
struct InterfaceClassId {
    std::array<uint8_t, 16> bytes{};
    friend bool operator==(const InterfaceClassId&, const InterfaceClassId&) = default;
};

// {A0B880F6-D6A5-4700-A8EA-22282ACA5587}
inline constexpr InterfaceClassId kTavrinInterfaceClass{
    {0xF6, 0x80, 0xB8, 0xA0, 0xA5, 0xD6, 0x00, 0x47, 0xA8, 0xEA, 0x22, 0x28, 0x2A, 0xCA, 0x55, 0x87}};

// Whether Ctrl and Alt are both held right now. The front end supplies the real one.
class ModifierKeys {
  public:
    virtual ~ModifierKeys() = default;
    virtual bool ctrlAndAltHeld() const = 0;
};

class NoModifierKeys final : public ModifierKeys {
  public:
    bool ctrlAndAltHeld() const override { return false; }
};

// A system without boards: every look finds none (a build with no transport yet).
class NoBoards final : public UsbTransport {
  public:
    std::vector<std::string> listInterfaces() override { return {}; }
    std::unique_ptr<UsbConnection> open(const std::string&) override { return nullptr; }
};

} // namespace tavrin::device

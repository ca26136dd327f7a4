// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/sim/SimulatedBoard.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _GObject GObject;
typedef struct _GParamSpec GParamSpec;
typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace tavrin::emulator {

class EmulatedClient;

// A USB bus faked by umockdev (sysfs, /dev and uevents) with the board on it. The
// board's behaviour is the simulated board's; this class only speaks usbdevfs for it:
// it answers the ioctls that libusb issues on the device node (URBs submitted, reaped
// and discarded) by calling the simulated board, and mirrors the board's presence on
// the bus with add and remove uevents. Beside the board sits a device of another
// shape, which a program must ignore.
//
// Its calls come from two threads: the GLib default main context's (faults, the
// status timer, finished URBs) and umockdev's own (the node's ioctls and clients), so
// each takes the bus's lock. It is recursive: a replug announces the board's arrival
// at once on the main context's thread.
class EmulatedBus {
  public:
    explicit EmulatedBus(sim::SimulatedBoard::Options options);
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // Builds the testbed with both devices. False (with a message) when umockdev fails.
    bool start();
    // The folder a child process gets as UMOCKDEV_DIR.
    const std::string& root() const { return root_; }

    sim::SimulatedBoard& board() { return *board_; }

    // The board leaves the bus (remove uevent) / comes back (add uevent, new address).
    void unplug();
    void replug();
    // The board's device node cannot be opened by its user from the next arrival on
    // (or now, when it is on the bus), as without the udev rule.
    void setNoPermission(bool noPermission);

    // Called with the outcome of one URB handed to a worker.
    struct UrbResult {
        uint64_t clientId = 0;
        unsigned long urb = 0;
        int status = 0;
        uint32_t actual = 0;
        std::vector<uint8_t> bytes; // IN data (after the setup packet for control)
        bool held = false;          // nothing more will come: it ends when discarded
    };
    void urbFinished(UrbResult result);
    // The board arrived on its own (back after the disconnect request, or plugged in).
    void boardArrived();

  private:
    friend class EmulatedClient;
    void addBoardToBus();
    void removeBoardFromBus();
    void setReady(bool ready);
    void updateReadiness();
    void completeStatusReads();
    void clientGone(EmulatedClient* client);
    bool handleIoctl(UMockdevIoctlClient* client);

    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static void onClientNotify(GObject* object, GParamSpec*, void* self);
    static int onStatusTimer(void* self);

    std::unique_ptr<sim::SimulatedBoard> board_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    std::string root_;
    std::string boardSysPath_;
    std::string boardNode_; // /dev/bus/usb/001/NNN while on the bus
    int deviceNumber_ = 9;
    bool onBus_ = false;
    bool noPermission_ = false;
    // The board's node is a FIFO whose free space stands for "an URB can be reaped": libusb
    // polls the node for POLLOUT, and a full pipe keeps it waiting instead of spinning.
    int readyFifo_ = -1;
    bool ready_ = true;
    std::vector<int> oldFifos_;
    uint64_t nextClientId_ = 1;
    bool closing_ = false; // being torn down: umockdev's thread connects no more clients
    std::map<uint64_t, std::unique_ptr<EmulatedClient>> clients_;
    unsigned statusTimer_ = 0;
    std::recursive_mutex mutex_;
};

} // namespace tavrin::emulator

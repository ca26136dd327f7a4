// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/usb_emulator/EmulatedBus.h"

#include "base/Worker.h"
#include "device/CaptureFrame.h"
#include "device/UsbTransport.h"

#include <umockdev.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
// After <sys/ioctl.h>, which it needs.
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

namespace tavrin::emulator {

namespace {

constexpr int kBus = 1;
constexpr uint16_t kPacket = 512;
constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                                   USBDEVFS_CAP_ZERO_PACKET;
// The USB stack's limit for the data of one control transfer.
constexpr uint16_t kMaxControlData = 4096;

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

// Device descriptor, then one configuration with one vendor-specific interface whose
// endpoints are `endpoints` (address, attributes), each with 512-byte packets.
std::string descriptors(uint16_t product, const std::vector<std::pair<uint8_t, uint8_t>>& endpoints) {
    std::string d;
    d += {18, 1};
    put16(d, 0x0200);
    d += {'\xFF', 0, 0, 64};
    put16(d, 0x1209);
    put16(d, product);
    put16(d, 0x0100);
    d += {0, 0, 0, 1};
    const uint16_t total = static_cast<uint16_t>(9 + 9 + 7 * endpoints.size());
    d += {9, 2};
    put16(d, total);
    d += {1, 1, 0, '\x80', 50};
    d += {9, 4, 0, 0, static_cast<char>(endpoints.size()), '\xFF', 0, 0, 0};
    for (auto [address, attributes] : endpoints) {
        d += {7, 5, static_cast<char>(address), static_cast<char>(attributes)};
        put16(d, kPacket);
        d.push_back(0);
    }
    return d;
}

std::string node(int device) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", kBus, device);
    return path;
}

// Adds a USB device with its sysfs attributes as libusb reads them.
std::string addDevice(UMockdevTestbed* testbed, const char* name, int device, const std::string& desc,
                      uint16_t product) {
    const std::string busnum = std::to_string(kBus) + "\n";
    const std::string devnum = std::to_string(device) + "\n";
    const std::string dev = "189:" + std::to_string((kBus - 1) * 128 + device - 1) + "\n";
    char productText[8];
    std::snprintf(productText, sizeof productText, "%04x\n", product);
    const std::string devName = node(device);
    gchar* path = umockdev_testbed_add_device(
        testbed, "usb", name, nullptr, "busnum", busnum.c_str(), "devnum", devnum.c_str(), "idVendor",
        "1209\n", "idProduct", productText, "speed", "480\n", "bConfigurationValue", "1\n",
        "bNumConfigurations", "1\n", "bDeviceClass", "ff\n", "dev", dev.c_str(), nullptr, "DEVTYPE",
        "usb_device", "DEVNAME", devName.c_str(), "BUSNUM", "001", "DEVNUM",
        devnum.substr(0, devnum.size() - 1).c_str(), nullptr);
    std::string sysPath = path ? path : "";
    g_free(path);
    if (!sysPath.empty())
        umockdev_testbed_set_attribute_binary(testbed, sysPath.c_str(), "descriptors",
                                              reinterpret_cast<guint8*>(const_cast<char*>(desc.data())),
                                              static_cast<int>(desc.size()));
    return sysPath;
}

} // namespace

// One opened device node: the board connection behind it, the URBs in flight and
// the worker that calls the board (whose calls may block for a frame or a time-out).
class EmulatedClient {
  public:
    struct Urb {
        UMockdevIoctlData* data = nullptr;   // the usbdevfs_urb, in our copy
        UMockdevIoctlData* buffer = nullptr; // its buffer
        uint8_t type = 0;
        uint8_t endpoint = 0;
        bool inWorker = false;
        bool held = false; // the board sent what it will; ends at the discard
        uint32_t heldBytes = 0;
    };
    struct Job {
        unsigned long urb = 0;
        uint8_t type = 0;
        uint8_t endpoint = 0;
        std::vector<uint8_t> bytes; // control: setup + data; bulk: empty
        uint32_t length = 0;        // bulk: buffer length
    };

    EmulatedClient(EmulatedBus& bus, uint64_t id, UMockdevIoctlClient* client)
        : bus_(bus), id_(id), client_(client) {
        g_object_ref(client_);
        connection_ = bus_.board().open(sim::SimulatedBoard::kPath);
        gone_ = connection_ == nullptr;
        const bool started = worker_.start(
            "tavrin-urbs", [this](const base::WorkerControl& control) { work(control); },
            [this] {
                std::lock_guard lk(mutex_);
                cv_.notify_all();
            });
        if (!started) {
            std::fprintf(stderr, "tavrin-usb-emulator: cannot start a thread\n");
            std::abort();
        }
    }

    ~EmulatedClient() {
        // A board call runs to its end (a frame or a time-out): the worker is waited
        // for, by name each time it outlasts the limit, before what it uses goes.
        worker_.requestStop();
        while (!worker_.join(std::chrono::seconds(2))) {
        }
        for (auto& [address, urb] : urbs_)
            release(urb);
        connection_.reset();
        g_object_unref(client_);
    }

    uint64_t id() const { return id_; }
    UMockdevIoctlClient* client() const { return client_; }
    bool gone() const { return gone_; }
    bool hasReapable() const { return !reapable_.empty(); }

    // The board left the bus: what is in flight ends as the USB core ends it then.
    void deviceGone() {
        gone_ = true;
        for (auto& [address, urb] : urbs_)
            if (!isReapable(address))
                finish(address, urb, -ESHUTDOWN, urb.heldBytes);
    }

    int submit(UMockdevIoctlData* arg) {
        if (gone_)
            return ENODEV;
        GError* error = nullptr;
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
        if (!data) {
            g_clear_error(&error);
            return EFAULT;
        }
        auto* u = reinterpret_cast<usbdevfs_urb*>(data->data);
        UMockdevIoctlData* buffer = nullptr;
        if (u->buffer_length > 0) {
            buffer = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(u->buffer_length), &error);
            if (!buffer) {
                g_clear_error(&error);
                g_object_unref(data);
                return EFAULT;
            }
        }
        Urb urb{data, buffer, u->type, u->endpoint};
        const unsigned long address = data->client_addr;
        Job job{address, u->type, u->endpoint, {}, static_cast<uint32_t>(std::max(0, u->buffer_length))};
        if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
            if (u->buffer_length < 8 || u->buffer_length - 8 > kMaxControlData) {
                release(urb);
                return EINVAL;
            }
            job.bytes.assign(buffer->data, buffer->data + u->buffer_length);
        } else if (u->type != USBDEVFS_URB_TYPE_BULK ||
                   (u->endpoint != device::kFramePipe && u->endpoint != device::kStatusPipe)) {
            release(urb);
            return ENOENT;
        }
        if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == device::kStatusPipe) {
            // The board answers the status read now and then (see the status timer).
            connection_->startAsyncRead(device::kStatusPipe, nullptr, 8);
            urbs_.emplace(address, urb);
            return 0;
        }
        urb.inWorker = true;
        urbs_.emplace(address, urb);
        {
            std::lock_guard lk(mutex_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_all();
        return 0;
    }

    int discard(unsigned long address) {
        auto it = urbs_.find(address);
        if (it == urbs_.end() || isReapable(address))
            return EINVAL;
        // Cancelled: it ends with the bytes that arrived before.
        finish(address, it->second, -ENOENT, it->second.heldBytes);
        return 0;
    }

    // Hands the next finished URB to the reap request; false when there is none.
    bool reap(UMockdevIoctlData* arg) {
        if (reapable_.empty())
            return false;
        const unsigned long address = reapable_.front();
        reapable_.pop_front();
        auto it = urbs_.find(address);
        GError* error = nullptr;
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
        if (!pointer) {
            g_clear_error(&error);
        } else {
            // The reaped pointer, and with it the URB and its buffer, go back to the client.
            umockdev_ioctl_data_set_ptr(pointer, 0, it->second.data);
            g_object_unref(pointer);
        }
        release(it->second);
        urbs_.erase(it);
        return true;
    }

    void finished(EmulatedBus::UrbResult& r) {
        auto it = urbs_.find(r.urb);
        if (it == urbs_.end() || !it->second.inWorker || isReapable(r.urb))
            return; // cancelled meanwhile
        Urb& urb = it->second;
        urb.inWorker = false;
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
        const std::size_t offset = urb.type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0;
        if (urb.buffer && !r.bytes.empty())
            std::memcpy(
                urb.buffer->data + offset, r.bytes.data(),
                std::min<std::size_t>(r.bytes.size(), static_cast<std::size_t>(u->buffer_length) - offset));
        if (r.held) {
            urb.held = true;
            urb.heldBytes = r.actual;
            return;
        }
        finish(r.urb, urb, r.status, r.actual);
    }

    // Completes an outstanding status read with an 8-byte status word.
    void completeStatusRead(uint32_t counter) {
        for (auto& [address, urb] : urbs_) {
            if (urb.type != USBDEVFS_URB_TYPE_BULK || urb.endpoint != device::kStatusPipe ||
                isReapable(address))
                continue;
            if (urb.buffer)
                std::memcpy(urb.buffer->data, &counter, std::min<std::size_t>(4, urb.buffer->data_len));
            finish(address, urb, 0,
                   std::min<uint32_t>(8, static_cast<uint32_t>(urb.buffer ? urb.buffer->data_len : 0)));
            bus_.board().completeStatusRead();
        }
    }

  private:
    bool isReapable(unsigned long address) const {
        return std::find(reapable_.begin(), reapable_.end(), address) != reapable_.end();
    }

    void finish(unsigned long address, Urb& urb, int status, uint32_t actual) {
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
        u->status = status;
        const uint32_t offset = urb.type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0;
        u->actual_length =
            static_cast<int>(std::min<uint32_t>(actual, static_cast<uint32_t>(u->buffer_length) - offset));
        urb.inWorker = false;
        reapable_.push_back(address);
    }

    static void release(Urb& urb) {
        if (urb.buffer)
            g_object_unref(urb.buffer);
        if (urb.data)
            g_object_unref(urb.data);
        urb.buffer = urb.data = nullptr;
    }

    void work(const base::WorkerControl& control) {
        for (;;) {
            Job job;
            {
                std::unique_lock lk(mutex_);
                cv_.wait(lk, [&] { return control.stopRequested() || !jobs_.empty(); });
                if (control.stopRequested())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            EmulatedBus::UrbResult r = run(job);
            r.clientId = id_;
            r.urb = job.urb;
            auto* posted = new EmulatedBus::UrbResult(std::move(r));
            struct Hand {
                EmulatedBus* bus;
                EmulatedBus::UrbResult* result;
            };
            g_main_context_invoke_full(
                nullptr, G_PRIORITY_DEFAULT,
                [](gpointer p) -> gboolean {
                    auto* h = static_cast<Hand*>(p);
                    h->bus->urbFinished(std::move(*h->result));
                    return G_SOURCE_REMOVE;
                },
                new Hand{&bus_, posted},
                [](gpointer p) {
                    auto* h = static_cast<Hand*>(p);
                    delete h->result;
                    delete h;
                });
        }
    }

    static int statusOf(const device::TransferResult& t) {
        switch (t.error) {
        case device::UsbError::None:
            return 0;
        case device::UsbError::Gone:
            return -ESHUTDOWN;
        case device::UsbError::Timeout:
            return 0; // held, see below
        case device::UsbError::Other:
            break;
        }
        return -EPIPE; // the board stalls what it does not accept
    }

    EmulatedBus::UrbResult run(Job& job) {
        EmulatedBus::UrbResult r;
        if (job.type == USBDEVFS_URB_TYPE_CONTROL) {
            device::UsbSetup setup;
            setup.requestType = job.bytes[0];
            setup.request = job.bytes[1];
            setup.value = static_cast<uint16_t>(job.bytes[2] | job.bytes[3] << 8);
            setup.index = static_cast<uint16_t>(job.bytes[4] | job.bytes[5] << 8);
            setup.length = static_cast<uint16_t>(job.bytes[6] | job.bytes[7] << 8);
            if (setup.length > job.bytes.size() - 8) {
                r.status = -EINVAL;
                return r;
            }
            const device::TransferResult t = connection_->controlTransfer(setup, job.bytes.data() + 8);
            r.status = statusOf(t);
            r.held = t.error == device::UsbError::Timeout;
            r.actual = t.transferred;
            if (setup.requestType & 0x80)
                r.bytes.assign(job.bytes.begin() + 8,
                               job.bytes.begin() + 8 + std::min<uint32_t>(t.transferred, setup.length));
            return r;
        }
        // Bulk IN on the frame pipe: the board sends whole 512-byte packets, so a buffer
        // that is not a whole number of packets can overflow.
        const uint32_t asked = (job.length + kPacket - 1) / kPacket * kPacket;
        r.bytes.resize(asked);
        const device::TransferResult t = connection_->readPipe(job.endpoint, r.bytes.data(), asked);
        r.status = statusOf(t);
        r.held = t.error == device::UsbError::Timeout;
        r.actual = std::min(t.transferred, job.length);
        if (t.ok && t.transferred > job.length)
            r.status = -EOVERFLOW;
        r.bytes.resize(r.actual);
        return r;
    }

    EmulatedBus& bus_;
    uint64_t id_;
    UMockdevIoctlClient* client_;
    std::unique_ptr<device::UsbConnection> connection_;
    bool gone_ = false;
    std::map<unsigned long, Urb> urbs_;
    std::deque<unsigned long> reapable_;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    base::Worker worker_; // last: it goes first, before what its body uses
};

EmulatedBus::EmulatedBus(sim::SimulatedBoard::Options options)
    : board_(std::make_unique<sim::SimulatedBoard>(options)) {}

EmulatedBus::~EmulatedBus() {
    if (statusTimer_)
        g_source_remove(statusTimer_);
    board_->setArrivalObserver(nullptr);
    {
        // umockdev's thread may connect a client even now; one made after this clear
        // would outlive the board it calls.
        std::lock_guard lk(mutex_);
        closing_ = true;
        clients_.clear();
    }
    if (handler_)
        g_object_unref(handler_);
    if (testbed_)
        g_object_unref(testbed_);
    if (readyFifo_ >= 0)
        close(readyFifo_);
    for (int fd : oldFifos_)
        close(fd);
    board_.reset();
}

bool EmulatedBus::start() {
    testbed_ = umockdev_testbed_new();
    if (!testbed_) {
        std::fprintf(stderr, "tavrin-usb-emulator: umockdev could not make a testbed\n");
        return false;
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);

    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedBus::onIoctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&EmulatedBus::onClientConnected), this);

    // A device of another shape: a vendor interface with bulk endpoints 0x81 and 0x02.
    const std::string other = descriptors(0x0002, {{0x81, 0x02}, {0x02, 0x02}});
    if (addDevice(testbed_, "1-2", 3, other, 0x0002).empty())
        return false;
    const std::string otherNode = root_ + node(3);
    g_mkdir_with_parents((root_ + "/dev/bus/usb/001").c_str(), 0755);
    if (FILE* f = std::fopen(otherNode.c_str(), "w"))
        std::fclose(f);

    board_->setArrivalObserver([this] {
        g_main_context_invoke(
            nullptr,
            [](gpointer self) -> gboolean {
                static_cast<EmulatedBus*>(self)->boardArrived();
                return G_SOURCE_REMOVE;
            },
            this);
    });
    if (!board_->listInterfaces().empty())
        addBoardToBus();
    statusTimer_ = g_timeout_add(1000, &EmulatedBus::onStatusTimer, this);
    return onBus_ || board_->listInterfaces().empty();
}

void EmulatedBus::addBoardToBus() {
    if (onBus_)
        return;
    deviceNumber_ = deviceNumber_ >= 127 ? 10 : deviceNumber_ + 1;
    const std::string desc = descriptors(0x0001, {{device::kFramePipe, 0x02}, {device::kStatusPipe, 0x02}});
    boardSysPath_ = addDevice(testbed_, "1-1", deviceNumber_, desc, 0x0001);
    boardNode_ = node(deviceNumber_);
    const std::string file = root_ + boardNode_;
    g_mkdir_with_parents((root_ + "/dev/bus/usb/001").c_str(), 0755);
    unlink(file.c_str());
    if (noPermission_) {
        if (geteuid() == 0) {
            // Root passes every permission check on an ordinary file; this kernel file
            // refuses opening for writing even to root, as a node without the rule does.
            if (symlink("/proc/sys/kernel/ostype", file.c_str()) != 0)
                std::perror("tavrin-usb-emulator: symlink");
        } else {
            if (FILE* f = std::fopen(file.c_str(), "w"))
                std::fclose(f);
            chmod(file.c_str(), 0);
        }
    } else {
        if (mkfifo(file.c_str(), 0666) != 0)
            std::perror("tavrin-usb-emulator: mkfifo");
        if (readyFifo_ >= 0)
            oldFifos_.push_back(readyFifo_);
        readyFifo_ = open(file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (readyFifo_ >= 0)
            fcntl(readyFifo_, F_SETPIPE_SZ, 4096);
        ready_ = true; // an empty pipe
        setReady(false);
    }
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, boardNode_.c_str(), handler_, &error)) {
        std::fprintf(stderr, "tavrin-usb-emulator: cannot attach to %s: %s\n", boardNode_.c_str(),
                     error ? error->message : "?");
        g_clear_error(&error);
    }
    onBus_ = true;
    umockdev_testbed_uevent(testbed_, boardSysPath_.c_str(), "add");
    std::fprintf(stderr, "tavrin-usb-emulator: board on the bus at %s\n", boardNode_.c_str());
}

void EmulatedBus::removeBoardFromBus() {
    if (!onBus_)
        return;
    onBus_ = false;
    for (auto& [id, client] : clients_)
        client->deviceGone();
    umockdev_testbed_uevent(testbed_, boardSysPath_.c_str(), "remove");
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(testbed_, boardNode_.c_str(), &error);
    g_clear_error(&error);
    umockdev_testbed_remove_device(testbed_, boardSysPath_.c_str());
    unlink((root_ + boardNode_).c_str());
    updateReadiness();
    std::fprintf(stderr, "tavrin-usb-emulator: board left the bus\n");
}

void EmulatedBus::unplug() {
    std::lock_guard lk(mutex_);
    board_->setPresent(false);
    removeBoardFromBus();
}

void EmulatedBus::replug() {
    std::lock_guard lk(mutex_);
    board_->setPresent(true); // the board's arrival brings it onto the bus
}

void EmulatedBus::boardArrived() {
    std::lock_guard lk(mutex_);
    if (!board_->listInterfaces().empty())
        addBoardToBus();
}

void EmulatedBus::setNoPermission(bool noPermission) {
    std::lock_guard lk(mutex_);
    noPermission_ = noPermission;
}

void EmulatedBus::setReady(bool ready) {
    if (readyFifo_ < 0 || ready == ready_)
        return;
    char page[4096];
    if (ready) {
        while (read(readyFifo_, page, sizeof page) > 0) {
        }
    } else {
        std::memset(page, 0, sizeof page);
        while (write(readyFifo_, page, sizeof page) > 0) {
        }
    }
    ready_ = ready;
}

void EmulatedBus::updateReadiness() {
    bool ready = false;
    for (auto& [id, client] : clients_)
        ready = ready || client->hasReapable() || client->gone();
    setReady(ready);
    // The nodes of earlier arrivals stay readable for the handles still open on them.
    char page[4096];
    for (int fd : oldFifos_)
        while (read(fd, page, sizeof page) > 0) {
        }
}

void EmulatedBus::urbFinished(UrbResult result) {
    std::lock_guard lk(mutex_);
    auto it = clients_.find(result.clientId);
    if (it != clients_.end())
        it->second->finished(result);
    // The board may have left the bus by itself (asked to by the new firmware).
    if (onBus_ && board_->listInterfaces().empty())
        removeBoardFromBus();
    updateReadiness();
}

void EmulatedBus::completeStatusReads() {
    std::lock_guard lk(mutex_);
    static uint32_t counter = 0;
    ++counter;
    for (auto& [id, client] : clients_)
        if (!client->gone())
            client->completeStatusRead(counter);
    updateReadiness();
}

int EmulatedBus::onStatusTimer(void* self) {
    static_cast<EmulatedBus*>(self)->completeStatusReads();
    return G_SOURCE_CONTINUE;
}

void EmulatedBus::onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* bus = static_cast<EmulatedBus*>(self);
    std::lock_guard lk(bus->mutex_);
    if (bus->closing_)
        return; // its calls find no client and are answered "no device"
    const uint64_t id = bus->nextClientId_++;
    bus->clients_.emplace(id, std::make_unique<EmulatedClient>(*bus, id, client));
    g_signal_connect(client, "notify::connected", G_CALLBACK(&EmulatedBus::onClientNotify), bus);
}

void EmulatedBus::onClientNotify(GObject* object, GParamSpec*, void* self) {
    auto* bus = static_cast<EmulatedBus*>(self);
    auto* client = reinterpret_cast<UMockdevIoctlClient*>(object);
    if (umockdev_ioctl_client_get_connected(client))
        return;
    std::lock_guard lk(bus->mutex_);
    for (auto it = bus->clients_.begin(); it != bus->clients_.end(); ++it) {
        if (it->second->client() == client) {
            bus->clients_.erase(it);
            break;
        }
    }
    bus->updateReadiness();
}

int EmulatedBus::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    return static_cast<EmulatedBus*>(self)->handleIoctl(client) ? TRUE : FALSE;
}

bool EmulatedBus::handleIoctl(UMockdevIoctlClient* client) {
    std::lock_guard lk(mutex_);
    EmulatedClient* c = nullptr;
    for (auto& [id, candidate] : clients_)
        if (candidate->client() == client)
            c = candidate.get();
    if (!c) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (std::getenv("TAVRIN_USB_EMULATOR_TRACE"))
        std::fprintf(stderr, "tavrin-usb-emulator: ioctl 'U' %lu\n", (request & 0xFF));
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    auto fail = [&](int code) { umockdev_ioctl_client_complete(client, -1, code); };
    auto ok = [&] { umockdev_ioctl_client_complete(client, 0, 0); };

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &error);
        if (!caps) {
            g_clear_error(&error);
            fail(EFAULT);
            break;
        }
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        g_object_unref(caps);
        ok();
        break;
    }
    case USBDEVFS_GETDRIVER:
        fail(ENODATA); // no kernel driver is bound to the board's interface
        break;
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETINTERFACE:
        if (c->gone())
            fail(ENODEV);
        else
            ok();
        break;
    case USBDEVFS_SUBMITURB: {
        const int code = c->submit(arg);
        if (code)
            fail(code);
        else
            ok();
        break;
    }
    case USBDEVFS_DISCARDURB: {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        const int code = c->discard(address);
        if (code)
            fail(code);
        else
            ok();
        break;
    }
    case USBDEVFS_REAPURBNDELAY:
    case USBDEVFS_REAPURB:
        if (c->reap(arg))
            ok();
        else
            fail(c->gone() ? ENODEV : EAGAIN);
        break;
    default:
        fail(ENOTTY);
        break;
    }
    updateReadiness();
    return true;
}

} // namespace tavrin::emulator

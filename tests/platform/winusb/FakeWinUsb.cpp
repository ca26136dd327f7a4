// SPDX-License-Identifier: GPL-2.0-or-later
#include "FakeWinUsb.h"

#include "base/TextCodec.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tavrin::testing {

namespace {

// GetLastError is per thread: the read thread and the window's thread each see their own.
thread_local DWORD lastErrorOfThread = 0;

constexpr DWORD kStatusPending = 0x103;
constexpr ULONG kPacket = 512;

bool isBoardClass(const GUID* guid) {
    return guid && std::memcmp(guid, device::kTavrinInterfaceClass.bytes.data(), sizeof(GUID)) == 0;
}

std::string narrow(const std::wstring& wide) {
    return base::utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// What WinUSB reports for each of the board's answers: a stalled request is a
// general failure; a board off the bus is a command the device does not know.
DWORD systemErrorOf(device::UsbError error) {
    switch (error) {
    case device::UsbError::Timeout:
        return ERROR_SEM_TIMEOUT;
    case device::UsbError::Gone:
        return ERROR_BAD_COMMAND;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace

FakeWinUsb::FakeWinUsb(device::UsbTransport& board) : board_(board) {}

FakeWinUsb::~FakeWinUsb() = default;

std::wstring FakeWinUsb::pathOf(const std::string& boardPath) {
    const std::u16string wide = base::utf8ToUtf16(boardPath);
    return L"\\\\?\\usb#" + std::wstring(wide.begin(), wide.end()) +
           L"#{a0b880f6-d6a5-4700-a8ea-22282aca5587}";
}

void FakeWinUsb::addInterface(OtherInterface other) {
    std::lock_guard lk(mutex_);
    others_.push_back(std::make_unique<OtherInterface>(std::move(other)));
}

void FakeWinUsb::failNextTransfer(DWORD code) {
    std::lock_guard lk(mutex_);
    failNext_ = code;
}

std::vector<std::string> FakeWinUsb::calls() const {
    std::lock_guard lk(mutex_);
    return calls_;
}

std::vector<std::string> FakeWinUsb::violations() const {
    std::lock_guard lk(mutex_);
    return violations_;
}

int FakeWinUsb::handlesOpen() const {
    std::lock_guard lk(mutex_);
    return static_cast<int>(sets_.size() + files_.size() + usbs_.size() + events_.size());
}

long FakeWinUsb::pipeTimeout(UCHAR pipe) const {
    std::lock_guard lk(mutex_);
    auto found = timeouts_.find(pipe);
    return found == timeouts_.end() ? -1 : found->second;
}

int FakeWinUsb::rawIo(UCHAR pipe) const {
    std::lock_guard lk(mutex_);
    auto found = rawIo_.find(pipe);
    return found == rawIo_.end() ? -1 : found->second;
}

std::vector<ULONG> FakeWinUsb::readLengths(UCHAR pipe) const {
    std::lock_guard lk(mutex_);
    auto found = readLengths_.find(pipe);
    return found == readLengths_.end() ? std::vector<ULONG>{} : found->second;
}

BOOL FakeWinUsb::fail(DWORD code) {
    lastErrorOfThread = code;
    return FALSE;
}

void FakeWinUsb::note(std::string call) {
    calls_.push_back(std::move(call));
}

void FakeWinUsb::violation(std::string what) {
    violations_.push_back(std::move(what));
}

device::UsbConnection* FakeWinUsb::connectionLocked(WINUSB_INTERFACE_HANDLE usb) {
    auto found = usbs_.find(static_cast<Usb*>(usb));
    if (found == usbs_.end())
        return nullptr;
    return found->second->file->connection.get();
}

DWORD FakeWinUsb::lastError() {
    return lastErrorOfThread;
}

// --- SetupAPI ---

HDEVINFO FakeWinUsb::getClassDevs(const GUID* interfaceClass, PCWSTR enumerator, HWND parent, DWORD flags) {
    const std::vector<std::string> boardPaths = board_.listInterfaces();
    std::lock_guard lk(mutex_);
    note("SetupDiGetClassDevs");
    auto set = std::make_unique<InfoSet>();
    // Without DIGCF_DEVICEINTERFACE the GUID names a setup class, not an interface class,
    // and the board's interfaces are not in the set.
    const bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
        violation("SetupDiGetClassDevs flags " + std::to_string(flags));
    if (enumerator || parent)
        violation("SetupDiGetClassDevs with an enumerator or a window");
    if (interfaces && isBoardClass(interfaceClass)) {
        for (const auto& other : others_)
            set->entries.push_back({other->path, other.get(), {}});
        for (const std::string& path : boardPaths)
            set->entries.push_back({pathOf(path), nullptr, path});
    }
    InfoSet* handle = set.get();
    sets_.emplace(handle, std::move(set));
    return static_cast<HDEVINFO>(handle);
}

BOOL FakeWinUsb::enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* interfaceClass,
                                      DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    std::lock_guard lk(mutex_);
    auto found = sets_.find(static_cast<InfoSet*>(set));
    if (found == sets_.end())
        return fail(ERROR_INVALID_HANDLE);
    if (info)
        violation("SetupDiEnumDeviceInterfaces with device information");
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (!isBoardClass(interfaceClass) || index >= found->second->entries.size())
        return fail(ERROR_NO_MORE_ITEMS);
    std::memcpy(&data->InterfaceClassGuid, interfaceClass, sizeof(GUID));
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL FakeWinUsb::getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                          PDWORD requiredSize, PSP_DEVINFO_DATA info) {
    std::lock_guard lk(mutex_);
    auto found = sets_.find(static_cast<InfoSet*>(set));
    if (found == sets_.end())
        return fail(ERROR_INVALID_HANDLE);
    if (info)
        violation("SetupDiGetDeviceInterfaceDetail with device information");
    if (!data || data->Reserved == 0 || data->Reserved > found->second->entries.size())
        return fail(ERROR_INVALID_PARAMETER);
    const Entry& entry = found->second->entries[data->Reserved - 1];
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (entry.path.size() + 1) * sizeof(WCHAR));
    if (requiredSize)
        *requiredSize = needed;
    if (!detail)
        return fail(detailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < needed)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (entry.other && entry.other->detailFails)
        return fail(ERROR_NOT_FOUND);
    std::memcpy(detail->DevicePath, entry.path.c_str(), (entry.path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL FakeWinUsb::destroyDeviceInfoList(HDEVINFO set) {
    std::lock_guard lk(mutex_);
    note("SetupDiDestroyDeviceInfoList");
    if (sets_.erase(static_cast<InfoSet*>(set)) == 0)
        return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

// --- kernel ---

HANDLE FakeWinUsb::createFile(PCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
    const std::wstring wide = path ? path : L"";
    // The board's path, when it is one of its interfaces now.
    std::string boardPath;
    const OtherInterface* other = nullptr;
    {
        std::lock_guard lk(mutex_);
        note("CreateFile " + narrow(wide));
        if (access != (GENERIC_READ | GENERIC_WRITE) || disposition != OPEN_EXISTING || security ||
            templateFile)
            violation("CreateFile access " + std::to_string(access) + " disposition " +
                      std::to_string(disposition));
        if (share != (FILE_SHARE_READ | FILE_SHARE_WRITE))
            violation("CreateFile share " + std::to_string(share));
        for (const auto& o : others_)
            if (o->path == wide)
                other = o.get();
    }
    if (!other)
        for (const std::string& p : board_.listInterfaces())
            if (pathOf(p) == wide)
                boardPath = p;
    auto file = std::make_unique<File>();
    file->path = wide;
    file->flags = flags;
    if (other) {
        if (other->createFileError) {
            fail(other->createFileError);
            return INVALID_HANDLE_VALUE;
        }
    } else if (boardPath.empty()) {
        fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    } else {
        file->connection = board_.open(boardPath);
        // The board is there, yet refused: another holder, or no right to it.
        if (!file->connection) {
            fail(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    }
    std::lock_guard lk(mutex_);
    File* handle = file.get();
    files_.emplace(handle, std::move(file));
    return static_cast<HANDLE>(handle);
}

BOOL FakeWinUsb::closeHandle(HANDLE handle) {
    std::unique_ptr<File> file;
    {
        std::lock_guard lk(mutex_);
        if (events_.erase(static_cast<Event*>(handle))) {
            note("CloseHandle event");
            return TRUE;
        }
        auto found = files_.find(static_cast<File*>(handle));
        if (found == files_.end()) {
            violation("CloseHandle of a handle that is not open");
            return fail(ERROR_INVALID_HANDLE);
        }
        note("CloseHandle file");
        for (const auto& usb : usbs_)
            if (usb.second->file == found->first)
                violation("file closed before WinUsb_Free");
        file = std::move(found->second);
        files_.erase(found);
    }
    // The board sees its connection end outside the fake's lock.
    file.reset();
    return TRUE;
}

HANDLE FakeWinUsb::createEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                               PCWSTR name) {
    std::lock_guard lk(mutex_);
    note(manualReset ? "CreateEvent manual" : "CreateEvent auto");
    if (security || initialState || name)
        violation("CreateEvent: an event signalled from the start, named or inheritable");
    auto event = std::make_unique<Event>();
    event->manualReset = manualReset != FALSE;
    Event* handle = event.get();
    events_.emplace(handle, std::move(event));
    return static_cast<HANDLE>(handle);
}

// --- WinUSB ---

BOOL FakeWinUsb::initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) {
    std::lock_guard lk(mutex_);
    note("WinUsb_Initialize");
    auto found = files_.find(static_cast<File*>(file));
    if (found == files_.end())
        return fail(ERROR_INVALID_HANDLE);
    File& f = *found->second;
    // WinUSB works only on files opened for overlapped I/O.
    if (!(f.flags & FILE_FLAG_OVERLAPPED))
        return fail(ERROR_INVALID_PARAMETER);
    for (const auto& o : others_)
        if (o->path == f.path && o->initializeError)
            return fail(o->initializeError);
    auto handle = std::make_unique<Usb>();
    handle->file = &f;
    *usb = handle.get();
    usbs_.emplace(handle.get(), std::move(handle));
    return TRUE;
}

BOOL FakeWinUsb::free(WINUSB_INTERFACE_HANDLE usb) {
    std::lock_guard lk(mutex_);
    note("WinUsb_Free");
    auto found = usbs_.find(static_cast<Usb*>(usb));
    if (found == usbs_.end()) {
        violation("WinUsb_Free of a handle that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    for (const auto& p : pending_)
        if (p.second.usb == usb)
            violation("WinUsb_Free with an overlapped read not seen ended");
    usbs_.erase(found);
    return TRUE;
}

BOOL FakeWinUsb::setPipePolicy(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, ULONG policy, ULONG valueLength,
                               PVOID value) {
    device::UsbConnection* connection = nullptr;
    {
        std::lock_guard lk(mutex_);
        connection = connectionLocked(usb);
        if (!connection)
            return fail(ERROR_INVALID_HANDLE);
        if (policy == PIPE_TRANSFER_TIMEOUT && valueLength == sizeof(ULONG)) {
            note("WinUsb_SetPipePolicy " + std::to_string(pipe) + " timeout");
        } else if (policy == RAW_IO && valueLength == sizeof(UCHAR) && (pipe & 0x80)) {
            note("WinUsb_SetPipePolicy " + std::to_string(pipe) + " raw");
        } else {
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    if (policy == PIPE_TRANSFER_TIMEOUT) {
        const ULONG ms = *static_cast<ULONG*>(value);
        if (!connection->setPipeTimeout(pipe, ms))
            return fail(ERROR_GEN_FAILURE);
        std::lock_guard lk(mutex_);
        timeouts_[pipe] = static_cast<long>(ms);
        return TRUE;
    }
    const bool on = *static_cast<UCHAR*>(value) != 0;
    if (!connection->setRawIo(pipe, on))
        return fail(ERROR_GEN_FAILURE);
    std::lock_guard lk(mutex_);
    rawIo_[pipe] = on ? 1 : 0;
    return TRUE;
}

BOOL FakeWinUsb::controlTransfer(WINUSB_INTERFACE_HANDLE usb, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                                 ULONG bufferLength, PULONG transferred, LPOVERLAPPED overlapped) {
    device::UsbConnection* connection = nullptr;
    DWORD forced = 0;
    if (transferred)
        *transferred = 0;
    {
        std::lock_guard lk(mutex_);
        connection = connectionLocked(usb);
        if (!connection)
            return fail(usbs_.count(static_cast<Usb*>(usb)) ? ERROR_GEN_FAILURE : ERROR_INVALID_HANDLE);
        if (overlapped)
            violation("an overlapped control transfer");
        if (bufferLength < setup.Length || (setup.Length && !buffer))
            return fail(ERROR_INVALID_PARAMETER);
        forced = failNext_;
        failNext_ = 0;
    }
    if (forced)
        return fail(forced);
    const device::UsbSetup s{setup.RequestType, setup.Request, setup.Value, setup.Index, setup.Length};
    const device::TransferResult r = connection->controlTransfer(s, buffer);
    if (transferred)
        *transferred = r.transferred;
    return r.ok ? TRUE : fail(systemErrorOf(r.error));
}

BOOL FakeWinUsb::readPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe, PUCHAR buffer, ULONG bufferLength,
                          PULONG transferred, LPOVERLAPPED overlapped) {
    device::UsbConnection* connection = nullptr;
    DWORD forced = 0;
    if (transferred)
        *transferred = 0;
    {
        std::lock_guard lk(mutex_);
        connection = connectionLocked(usb);
        if (!connection)
            return fail(usbs_.count(static_cast<Usb*>(usb)) ? ERROR_GEN_FAILURE : ERROR_INVALID_HANDLE);
        if (!(pipe & 0x80) || !buffer)
            return fail(ERROR_INVALID_PARAMETER);
        if (overlapped) {
            note("WinUsb_ReadPipe " + std::to_string(pipe) + " overlapped");
            if (!overlapped->hEvent)
                violation("an overlapped read without an event");
            for (const auto& p : pending_)
                if (p.second.usb == usb && p.second.pipe == pipe)
                    violation("a second overlapped read on pipe " + std::to_string(pipe));
        } else {
            readLengths_[pipe].push_back(bufferLength);
            // With RAW_IO the system takes whole packets only.
            if (rawIo_[pipe] == 1 && bufferLength % kPacket != 0)
                return fail(ERROR_INVALID_PARAMETER);
            forced = failNext_;
            failNext_ = 0;
        }
    }
    if (overlapped) {
        connection->startAsyncRead(pipe, buffer, bufferLength);
        overlapped->Internal = kStatusPending;
        std::lock_guard lk(mutex_);
        pending_[overlapped] = PendingRead{usb, pipe, buffer, bufferLength, false};
        return fail(ERROR_IO_PENDING);
    }
    if (forced)
        return fail(forced);
    const device::TransferResult r = connection->readPipe(pipe, buffer, bufferLength);
    if (transferred)
        *transferred = r.transferred;
    return r.ok ? TRUE : fail(systemErrorOf(r.error));
}

BOOL FakeWinUsb::getOverlappedResult(WINUSB_INTERFACE_HANDLE usb, LPOVERLAPPED overlapped,
                                     LPDWORD transferred, BOOL wait) {
    device::UsbConnection* connection = nullptr;
    PendingRead read;
    {
        std::lock_guard lk(mutex_);
        note(wait ? "WinUsb_GetOverlappedResult wait" : "WinUsb_GetOverlappedResult");
        connection = connectionLocked(usb);
        auto found = pending_.find(overlapped);
        if (found == pending_.end()) {
            violation("WinUsb_GetOverlappedResult of a read not outstanding");
            return fail(ERROR_INVALID_PARAMETER);
        }
        read = found->second;
    }
    if (!read.aborted && connection && connection->asyncReadPending(read.pipe)) {
        if (wait) {
            // The system would wait for ever: nothing ends this read.
            std::lock_guard lk(mutex_);
            violation("waited for an overlapped read nobody cancelled");
        }
        return fail(ERROR_IO_INCOMPLETE);
    }
    std::lock_guard lk(mutex_);
    pending_.erase(overlapped);
    if (read.aborted) {
        overlapped->Internal = ERROR_OPERATION_ABORTED;
        return fail(ERROR_OPERATION_ABORTED);
    }
    // The board's status word: its content means nothing to the program.
    const ULONG count = std::min<ULONG>(read.length, 8);
    std::memset(read.buffer, 0x5A, count);
    overlapped->Internal = 0;
    overlapped->InternalHigh = count;
    if (transferred)
        *transferred = count;
    return TRUE;
}

BOOL FakeWinUsb::abortPipe(WINUSB_INTERFACE_HANDLE usb, UCHAR pipe) {
    std::lock_guard lk(mutex_);
    note("WinUsb_AbortPipe " + std::to_string(pipe));
    if (!usbs_.count(static_cast<Usb*>(usb)))
        return fail(ERROR_INVALID_HANDLE);
    for (auto& p : pending_)
        if (p.second.usb == usb && p.second.pipe == pipe)
            p.second.aborted = true;
    return TRUE;
}

} // namespace tavrin::testing

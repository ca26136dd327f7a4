// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows side of base/Os.h: the C runtime's wide calls and Win32.
#ifdef _WIN32

#include "base/Os.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <string_view>
#include <sys/stat.h>

// windows.h first: the others need its types.
#include <windows.h>

#include <initguid.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace tavrin::base::os {

namespace {

// UTF-8 to UTF-16; false (errno EINVAL or ENOENT) for text that is not UTF-8, or empty.
bool toWide(const std::string& utf8, std::wstring& wide) {
    if (utf8.empty()) {
        errno = ENOENT;
        return false;
    }
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) {
        errno = EINVAL;
        return false;
    }
    wide.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
    return true;
}

std::string toUtf8(const wchar_t* wide) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
    utf8.pop_back(); // the terminating zero
    return utf8;
}

void setErrnoFromLastError() {
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_NOT_SAME_DEVICE:
        errno = EXDEV;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    default:
        errno = EIO;
    }
}

int openWide(const std::string& path, int flags) {
    std::wstring wide;
    if (!toWide(path, wide))
        return -1;
    return ::_wopen(wide.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

std::string knownFolder(const KNOWNFOLDERID& id) {
    wchar_t* path = nullptr;
    std::string utf8;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        utf8 = toUtf8(path);
    ::CoTaskMemFree(path);
    return utf8;
}

} // namespace

int openForReading(const std::string& path) {
    return openWide(path, _O_RDONLY);
}

// Files have no POSIX modes here: access follows the folder's.
int createNewFile(const std::string& path, bool) {
    return openWide(path, _O_WRONLY | _O_CREAT | _O_EXCL);
}

int makeTemporaryFile(std::string& pathTemplate) {
    constexpr std::string_view kSuffix = "XXXXXX";
    if (pathTemplate.size() < kSuffix.size() || !pathTemplate.ends_with(kSuffix)) {
        errno = EINVAL;
        return -1;
    }
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = pathTemplate.size() - kSuffix.size(); i < pathTemplate.size(); ++i)
            pathTemplate[i] = kLetters[pick(random)];
        const int fd = createNewFile(pathTemplate, true);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

long long readFile(int fd, void* data, std::size_t size) {
    return ::_read(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

long long writeFile(int fd, const void* data, std::size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

int closeFile(int fd) {
    return ::_close(fd);
}

namespace {

HANDLE handleOf(int fd) {
    const intptr_t h = ::_get_osfhandle(fd);
    if (h == -1)
        errno = EBADF;
    return reinterpret_cast<HANDLE>(h);
}

// CreateFileW rather than _wopen: the name can go while the file is open, as on Linux.
int openShared(const std::string& path, DWORD disposition) {
    std::wstring wide;
    if (!toWide(path, wide))
        return -1;
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0)
        ::CloseHandle(h);
    return fd;
}

long long transferAt(int fd, void* data, std::size_t size, long long offset, bool write) {
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD done = 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    // A synchronous handle's position follows the transfer: it is put back, as pread leaves it.
    LARGE_INTEGER position{};
    const bool kept = ::SetFilePointerEx(h, LARGE_INTEGER{}, &position, FILE_CURRENT);
    const BOOL ok = write ? ::WriteFile(h, data, n, &done, &at) : ::ReadFile(h, data, n, &done, &at);
    const DWORD error = ::GetLastError();
    if (kept)
        ::SetFilePointerEx(h, position, nullptr, FILE_BEGIN);
    ::SetLastError(error);
    if (!ok) {
        if (!write && ::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        setErrnoFromLastError();
        return -1;
    }
    return done;
}

} // namespace

int openForUpdate(const std::string& path) {
    return openShared(path, OPEN_EXISTING);
}

int createOrReplace(const std::string& path) {
    return openShared(path, CREATE_ALWAYS);
}

long long fileSize(int fd) {
    return ::_filelengthi64(fd);
}

long long readAt(int fd, void* data, std::size_t size, long long offset) {
    return transferAt(fd, data, size, offset, false);
}

long long writeAt(int fd, const void* data, std::size_t size, long long offset) {
    return transferAt(fd, const_cast<void*>(data), size, offset, true);
}

int resizeFile(int fd, long long size) {
    const errno_t err = ::_chsize_s(fd, size);
    if (err != 0)
        errno = err;
    return err == 0 ? 0 : -1;
}

int reserveRoom(int fd, long long end) {
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = end;
    if (::SetFileInformationByHandle(h, FileAllocationInfo, &room, sizeof room))
        return 0;
    const DWORD error = ::GetLastError();
    setErrnoFromLastError();
    if (error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL)
        errno = EOPNOTSUPP;
    return -1;
}

// The system writes back on its own; FlushFileBuffers would wait for it.
void startWriteBack(int) {}

bool tryLockFile(int fd) {
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Windows locks keep others from the bytes they cover: this one covers a byte far
    // beyond any file's end, so that readers read on.
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7fffffff;
    if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    setErrnoFromLastError();
    return false;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::wstring wide;
    if (!toWide(path, wide))
        return names;
    if (!wide.empty() && wide.back() != L'\\' && wide.back() != L'/')
        wide += L'\\';
    wide += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileW(wide.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = toUtf8(found.cFileName);
        if (!name.empty() && name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return names;
}

int flushToDisk(int fd) {
    return ::_commit(fd);
}

void copyAccessMode(const std::string&, int) {}

int renameOver(const std::string& from, const std::string& to) {
    std::wstring wideFrom, wideTo;
    if (!toWide(from, wideFrom) || !toWide(to, wideTo))
        return -1;
    // The C runtime's rename refuses an existing target; this replaces it, and is
    // on the disk when it returns.
    if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    setErrnoFromLastError();
    return -1;
}

int removeFile(const std::string& path) {
    std::wstring wide;
    return toWide(path, wide) ? ::_wunlink(wide.c_str()) : -1;
}

int makeFolder(const std::string& path) {
    std::wstring wide;
    return toWide(path, wide) ? ::_wmkdir(wide.c_str()) : -1;
}

bool isFolder(const std::string& path) {
    std::wstring wide;
    if (!toWide(path, wide))
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool nameTaken(const std::string& path) {
    std::wstring wide;
    if (!toWide(path, wide))
        return true; // no file can be made under it either
    if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::string currentFolder() {
    wchar_t* path = ::_wgetcwd(nullptr, 0);
    if (!path)
        return {};
    std::string utf8 = toUtf8(path);
    std::free(path);
    return utf8;
}

bool setCurrentFolder(const std::string& path) {
    std::wstring wide;
    return toWide(path, wide) && ::_wchdir(wide.c_str()) == 0;
}

bool utcTime(std::time_t time, std::tm& out) {
    return ::gmtime_s(&out, &time) == 0;
}

void raiseThreadPriority() {
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

void raiseThreadPriorityForSound() {
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

void nameThisThread(const std::string& name) {
    // SetThreadDescription came with Windows 10 1607: looked up, not linked. A
    // function pointer passes through void (*)() between two function types.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    std::wstring wide;
    if (setDescription && toWide(name, wide))
        (void)setDescription(::GetCurrentThread(), wide.c_str());
}

std::string homeFromUserDatabase() {
    return {};
}

std::string roamingAppDataFolder() {
    return knownFolder(FOLDERID_RoamingAppData);
}

std::string desktopKnownFolder() {
    return knownFolder(FOLDERID_Desktop);
}

bool hasUserRegistry() {
    return true;
}

namespace {

// The key opened (and made, when `create`) for reading and writing; null on failure.
HKEY openKey(const std::string& key, bool create, bool* created) {
    std::wstring wide;
    if (!toWide(key, wide))
        return nullptr;
    HKEY handle = nullptr;
    DWORD disposition = 0;
    const LONG result =
        create ? ::RegCreateKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | KEY_WRITE, nullptr, &handle, &disposition)
               : ::RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, KEY_READ | KEY_WRITE, &handle);
    if (result != ERROR_SUCCESS) {
        errno = result == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
        return nullptr;
    }
    if (created)
        *created = disposition == REG_CREATED_NEW_KEY;
    return handle;
}

} // namespace

bool openUserKey(const std::string& key, bool& created) {
    created = false;
    HKEY handle = openKey(key, true, &created);
    if (!handle)
        return false;
    ::RegCloseKey(handle);
    return true;
}

bool readUserDword(const std::string& key, const std::string& name, uint32_t& value) {
    std::wstring wideName;
    if (!toWide(name, wideName))
        return false;
    HKEY handle = openKey(key, false, nullptr);
    if (!handle)
        return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG result =
        ::RegQueryValueExW(handle, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    ::RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) {
        errno = ENOENT;
        return false;
    }
    value = data;
    return true;
}

bool writeUserDword(const std::string& key, const std::string& name, uint32_t value) {
    std::wstring wideName;
    if (!toWide(name, wideName))
        return false;
    HKEY handle = openKey(key, true, nullptr);
    if (!handle)
        return false;
    const DWORD data = value;
    const LONG result = ::RegSetValueExW(handle, wideName.c_str(), 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&data), sizeof data);
    ::RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        errno = EACCES;
        return false;
    }
    return true;
}

bool removeUserKey(const std::string& key) {
    std::wstring wide;
    if (!toWide(key, wide))
        return false;
    return ::RegDeleteTreeW(HKEY_CURRENT_USER, wide.c_str()) == ERROR_SUCCESS &&
           ::RegDeleteKeyW(HKEY_CURRENT_USER, wide.c_str()) == ERROR_SUCCESS;
}

} // namespace tavrin::base::os

#endif

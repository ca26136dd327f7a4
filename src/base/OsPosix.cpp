// SPDX-License-Identifier: GPL-2.0-or-later
// The POSIX side of base/Os.h (Linux).
#ifndef _WIN32

#include "base/Os.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace tavrin::base::os {

int openForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int createNewFile(const std::string& path, bool privateFile) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateFile ? 0600 : 0666);
}

int makeTemporaryFile(std::string& pathTemplate) {
    return ::mkstemp(pathTemplate.data());
}

long long readFile(int fd, void* data, std::size_t size) {
    return ::read(fd, data, size);
}

long long writeFile(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int closeFile(int fd) {
    return ::close(fd);
}

int openForUpdate(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}

int createOrReplace(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

long long fileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long readAt(int fd, void* data, std::size_t size, long long offset) {
    ssize_t n;
    do
        n = ::pread(fd, data, size, offset);
    while (n < 0 && errno == EINTR);
    return n;
}

long long writeAt(int fd, const void* data, std::size_t size, long long offset) {
    ssize_t n;
    do
        n = ::pwrite(fd, data, size, offset);
    while (n < 0 && errno == EINTR);
    return n;
}

int resizeFile(int fd, long long size) {
    return ::ftruncate(fd, size);
}

int reserveRoom(int fd, long long end) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return -1;
    const long long from = std::min<long long>(st.st_size, end);
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, from, end - from);
}

void startWriteBack(int fd) {
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool tryLockFile(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

int flushToDisk(int fd) {
    return ::fsync(fd);
}

void copyAccessMode(const std::string& path, int fd) {
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);
}

int renameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
}

int removeFile(const std::string& path) {
    return ::unlink(path.c_str());
}

int makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool nameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string currentFolder() {
    std::vector<char> buffer(4096);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

bool setCurrentFolder(const std::string& path) {
    return !path.empty() && ::chdir(path.c_str()) == 0;
}

bool utcTime(std::time_t time, std::tm& out) {
    return ::gmtime_r(&time, &out) != nullptr;
}

void raiseThreadPriority() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, -5);
}

void raiseThreadPriorityForSound() {
    sched_param param{};
    param.sched_priority = ::sched_get_priority_min(SCHED_RR);
    if (::pthread_setschedparam(::pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &param) != 0)
        raiseThreadPriority();
}

void nameThisThread(const std::string& name) {
    // The kernel refuses a name of more than 15 bytes rather than shortening it.
    char shortName[16] = {};
    name.copy(shortName, sizeof shortName - 1);
    (void)::pthread_setname_np(::pthread_self(), shortName);
}

std::string homeFromUserDatabase() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string roamingAppDataFolder() {
    return {};
}

std::string desktopKnownFolder() {
    return {};
}

bool hasUserRegistry() {
    return false;
}

bool openUserKey(const std::string&, bool& created) {
    created = false;
    errno = ENOSYS;
    return false;
}

bool readUserDword(const std::string&, const std::string&, uint32_t&) {
    errno = ENOSYS;
    return false;
}

bool writeUserDword(const std::string&, const std::string&, uint32_t) {
    errno = ENOSYS;
    return false;
}

bool removeUserKey(const std::string&) {
    errno = ENOSYS;
    return false;
}

} // namespace tavrin::base::os

#endif

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What the core needs from the operating system, the same on Linux and Windows.
// Every path is UTF-8; on Windows it goes to the wide (UTF-16) calls, never
// through the ANSI code page. Files are always binary and never inherited by
// child processes. Calls that fail leave errno saying why.
namespace tavrin::base::os {

// A UTF-8 path as the standard library's path, and back.
std::filesystem::path toPath(std::string_view utf8);
std::string fromPath(const std::filesystem::path& path);

// Opens an existing file for reading; -1 on failure.
int openForReading(const std::string& path);
// Creates a file that must not exist yet, for writing; -1 on failure (EEXIST when
// something is there). `privateFile`: only the user may read it (where modes exist).
int createNewFile(const std::string& path, bool privateFile = false);
// mkstemp: the trailing "XXXXXX" of `pathTemplate` is replaced by the name made;
// the file is private.
int makeTemporaryFile(std::string& pathTemplate);
long long readFile(int fd, void* data, std::size_t size);
long long writeFile(int fd, const void* data, std::size_t size);
int closeFile(int fd);
// Everything written to `fd` is on the disk when this returns 0.
int flushToDisk(int fd);
// Gives the file open as `fd` the access mode of `path`, where both exist and the
// system has modes.
void copyAccessMode(const std::string& path, int fd);
// Renames `from` to `to`, replacing `to` if it exists, in one step: a reader sees
// the old file or the new one, never neither. 0 or -1.
int renameOver(const std::string& from, const std::string& to);
int removeFile(const std::string& path);

// Files a recording writes in place, with its reader after a crash.
// Opens an existing file for reading and writing; -1 on failure.
int openForUpdate(const std::string& path);
// Creates the file, or empties the one there, for reading and writing; -1 on failure.
// Either may be removed while it is open (the name goes at once on Linux, with the last
// close on Windows).
int createOrReplace(const std::string& path);
// The file's size, or -1.
long long fileSize(int fd);
// pread/pwrite: at `offset`, without moving the file's position; what was done, or -1.
long long readAt(int fd, void* data, std::size_t size, long long offset);
long long writeAt(int fd, const void* data, std::size_t size, long long offset);
// Cuts or extends the file to `size`; 0 or -1.
int resizeFile(int fd, long long size);
// Keeps room on the disk for the file up to `end` without changing its size; 0, or -1
// with errno ENOSPC (or EDQUOT) for a full disk, anything else where room cannot be kept.
int reserveRoom(int fd, long long end);
// Starts writing what the file holds to the disk, without waiting (nothing where the
// system has no such call).
void startWriteBack(int fd);
// Takes the file's one lock without waiting; false when another holder has it. The lock
// goes with the file's close or the process, however it ends, and never keeps anyone
// from reading the file.
bool tryLockFile(int fd);
// The names in a folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> folderEntries(const std::string& path);

// Creates one folder level (private to the user where modes exist); 0 or -1
// (EEXIST when something is there).
int makeFolder(const std::string& path);
bool isFolder(const std::string& path);
// Anything at all under that name, a dangling link or a file that cannot be read
// included.
bool nameTaken(const std::string& path);
// The process's current directory (UTF-8, without a trailing separator); empty on failure.
std::string currentFolder();
bool setCurrentFolder(const std::string& path);

// gmtime: false when `time` has no calendar date.
bool utcTime(std::time_t time, std::tm& out);
// The calling thread runs above normal priority where the system allows it; silently
// unchanged otherwise.
void raiseThreadPriority();
// The calling thread carries sound that must not wait: realtime (round robin, the
// lowest such priority) where the system allows it, as for a desktop's audio group;
// raiseThreadPriority otherwise. Its children start at normal priority.
void raiseThreadPriorityForSound();
// Names the calling thread for debuggers and `top -H`; Linux shows the first 15
// bytes. Silently unchanged where the system has no names.
void nameThisThread(const std::string& name);

// The home folder the user database gives for this user (POSIX); empty elsewhere.
std::string homeFromUserDatabase();
// The Known Folders: roaming application data and the desktop (Windows); empty elsewhere.
std::string roamingAppDataFolder();
std::string desktopKnownFolder();

// The per-user registry (Windows): 32-bit values (REG_DWORD) of a key under
// HKEY_CURRENT_USER, named by its path ("Software\\TavrinCapture"). Each call opens
// the key and closes it again. Where there is no registry every call fails.
bool hasUserRegistry();
// Opens the key for reading and writing, creating it when missing; `created` tells
// whether it was made now.
bool openUserKey(const std::string& key, bool& created);
// False when the key or the value is missing, or the value is not a REG_DWORD.
bool readUserDword(const std::string& key, const std::string& name, uint32_t& value);
bool writeUserDword(const std::string& key, const std::string& name, uint32_t value);
// Removes the key with everything under it.
bool removeUserKey(const std::string& key);

} // namespace tavrin::base::os

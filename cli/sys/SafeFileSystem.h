// The operating-system calls beneath the CLI's file-safety layer
// (cli/output/SafeFile.h): creating files that cannot already exist, opening
// only regular files, checked writes and flushes, renames made durable,
// advisory locks, file identity, and keeping a file's owner, mode, extended
// attributes and modification time. One backend per platform
// (cli/sys/posix, cli/sys/win32), chosen in CMake.
//
// Paths are UTF-8. A handle is owned by whoever opened it and is closed with
// Close. Failures return false (or NO_HANDLE) with `error` set to the
// system's error number (errno, or GetLastError on Windows); ErrorText turns
// it into words. Nothing throws except std::bad_alloc.
// Threads: any thread; a handle is used by one thread at a time.
#ifndef VERSEWELL_CLI_SYS_SAFE_FILE_SYSTEM_H
#define VERSEWELL_CLI_SYS_SAFE_FILE_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace safesys {

using Handle = intptr_t;
constexpr Handle NO_HANDLE = -1;

// What says "this is still the same file, unchanged": compared before an
// edit replaces a file.
struct SIdentity {
  uint64_t nDevice = 0;
  uint64_t nInode = 0;
  uint64_t nSize = 0;
  int64_t nModified = 0;  // nanoseconds (100 ns units on Windows)
  int64_t nChanged = 0;   // status change time; 0 where the system has none
  uint64_t nLinks = 1;
  bool operator==(const SIdentity& other) const {
    return nDevice == other.nDevice && nInode == other.nInode && nSize == other.nSize &&
           nModified == other.nModified && nChanged == other.nChanged;
  }
  bool operator!=(const SIdentity& other) const { return !(*this == other); }
};

// The system's words for an error number.
std::string ErrorText(int error);
// Error numbers the portable layer tests for.
bool IsAlreadyExists(int error);
bool IsNotFound(int error);
// The error a full disk gives, and the one for "not a regular file".
int NoSpaceError();
int NotRegularError();

// Creates `path`, which must not exist in any form (a link, a FIFO, a file):
// O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600 (CREATE_NEW with
// FILE_FLAG_OPEN_REPARSE_POINT on Windows). Opened for reading and writing.
Handle CreateNew(const std::string& path, int& error);

// Opens an existing regular file without waiting on it: a FIFO, a device or
// a folder is refused (NotRegularError) before any read or write could
// block. With `followLinks` false a link at `path` is refused as well.
Handle OpenRegular(const std::string& path, bool forWriting, bool followLinks, int& error);

void Close(Handle handle);

// Reads up to `size` bytes at the current position; 0 at the end; -1 on error.
long long Read(Handle handle, char* buffer, size_t size, int& error);
// Writes all of it, or fails (a short write of a full disk is a failure).
bool WriteAll(Handle handle, const char* data, size_t size, int& error);
bool Seek(Handle handle, uint64_t position, int& error);
bool Truncate(Handle handle, uint64_t size, int& error);
// Flushes the file's data to the device (fsync, FlushFileBuffers).
bool Sync(Handle handle, int& error);

bool Identify(Handle handle, SIdentity& identity, int& error);
// The identity of what is at `path` now, without following a link there.
bool IdentifyPath(const std::string& path, SIdentity& identity, int& error);

// Advisory lock on the whole file (flock, LockFileEx). With `wait` false a
// lock held elsewhere fails at once; IsLockBusy tells that case apart.
bool Lock(Handle handle, bool wait, int& error);
bool IsLockBusy(int error);

// Renames `from` over `to` and makes the rename durable: on Windows
// MoveFileExW with MOVEFILE_REPLACE_EXISTING|MOVEFILE_WRITE_THROUGH (the
// caller has flushed `from`), on posix rename then fsync of the folder.
bool Replace(const std::string& from, const std::string& to, int& error);
// Removes a file (never a folder); a missing file counts as removed.
bool Remove(const std::string& path, int& error);

// Holds the lock that says "a run is writing into this folder" (flock on the
// folder itself on posix; on Windows, where folders cannot be locked, a
// named mutex for the folder's volume and file index, so no file is added).
// NO_HANDLE with IsLockBusy(error) when another process holds it. Released
// by UnlockFolder, or when the process ends, however it ends; the thread
// that locked unlocks.
Handle LockFolder(const std::string& folder, int& error);
void UnlockFolder(Handle lock);

// Owner, group and the way back: whether this process can give a new file
// the owner and group of `model` (root can; another user only when it owns
// the file and belongs to its group).
bool CanKeepOwner(Handle model);
// Gives `copy` the owner, group, permission bits, extended attributes (and
// so the ACL) and modification time of `model`. With `ownerOptional` a
// failure to set the owner or group is not an error. Times go last, so
// call it after the copy's last write.
bool KeepMetadata(Handle model, Handle copy, bool ownerOptional, std::string& error);
// Sets the modification time of `handle` to `identity`'s.
bool SetModified(Handle handle, const SIdentity& identity, int& error);
// Makes the creation or removal of names in `folder` durable (fsync of the
// folder; nothing to do on Windows). Failure is reported, but file systems
// that cannot sync a folder count as success.
bool SyncFolder(const std::string& folder, int& error);
// A C runtime descriptor for the same open file (dup), for libraries that
// take one; the caller owns it. -1 on failure.
int RuntimeDescriptor(Handle handle);

// Opens a list to read: a file, a pipe or a FIFO (a FIFO without a writer
// reads as empty, never waits). Standard input is StandardInput(), not owned.
Handle OpenForReading(const std::string& path, int& error);
Handle StandardInput();
// Read that gives up when a stop is requested (SIGINT/SIGTERM/Ctrl-C, see
// cli/HostPlatform.h) while it waits or between chunks: -2 then.
long long ReadUnlessStopped(Handle handle, char* buffer, size_t size, int& error);

// Eight characters from the system's random source, [0-9a-z].
std::string RandomCharacters();

// Now, on the clock file modification times use (same units as SIdentity),
// and that clock's units per second.
int64_t FileClockNow();
int64_t FileClockSecond();
// The resolved target of `path` (all links followed); empty when it cannot.
std::string ResolvedPath(const std::string& path);

}  // namespace safesys

#endif  // VERSEWELL_CLI_SYS_SAFE_FILE_SYSTEM_H

// Low-level file access beneath the framework file classes (platform/File.h):
// open with Windows access, sharing and creation semantics, read, write,
// seek, size, flush and close on a native handle.
//
// Semantics kept from the Windows calls the file classes stand on:
// - OpenFile: access FILE_ACCESS_*; sharing FILE_SHARE_* says what other
//   openers may do; disposition OPEN_EXISTING, CREATE_ALWAYS (truncate),
//   OPEN_ALWAYS (create if missing, never truncate) or CREATE_NEW. A
//   directory cannot be opened as a file (ERROR_ACCESS_DENIED); a missing
//   file in an existing folder gives ERROR_FILE_NOT_FOUND, a missing folder
//   ERROR_PATH_NOT_FOUND; a conflicting open gives ERROR_SHARING_VIOLATION.
// - ReadFile reads up to `size` bytes; fewer only at the end of the file
//   (0 there, and success). WriteFile writes all bytes or fails.
// - SetFilePointer moves relative to FILE_BEGIN, FILE_CURRENT or FILE_END; a
//   resulting negative position fails with ERROR_NEGATIVE_SEEK.
// - Handles are not inherited by child processes.
//
// Calls go through the current IFileIo. The posix backend supplies the real
// one; tests install a fake with SetFileIoForTesting. Failures return false
// (or INVALID_FILE_HANDLE) and set the thread's last error
// (platform/ErrorText.h); nothing throws. Any thread may call; installing a
// fake is for single-threaded test set-up. The backend object is never
// destroyed, so it stays usable from static destructors.
#ifndef VERSEWELL_PLATFORM_FILE_IO_H
#define VERSEWELL_PLATFORM_FILE_IO_H

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Types.h"

namespace platform {

constexpr DWORD FILE_ACCESS_READ = 0x1;
constexpr DWORD FILE_ACCESS_WRITE = 0x2;

// Sharing granted to other openers, as the Windows FILE_SHARE_* bits.
constexpr DWORD FILE_SHARE_NONE = 0x0;
constexpr DWORD FILE_SHARE_READ_ACCESS = 0x1;
constexpr DWORD FILE_SHARE_WRITE_ACCESS = 0x2;

enum FileDisposition : DWORD {
  DISPOSITION_CREATE_NEW = 1,
  DISPOSITION_CREATE_ALWAYS = 2,
  DISPOSITION_OPEN_EXISTING = 3,
  DISPOSITION_OPEN_ALWAYS = 4,
};

enum FileMoveMethod : DWORD {
  MOVE_FROM_BEGIN = 0,
  MOVE_FROM_CURRENT = 1,
  MOVE_FROM_END = 2,
};

// Windows error codes that only the file layer produces.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;

// What tells one version of a file on disk from another without reading it:
// the volume and file number (device and inode on posix, volume serial and
// file index on Windows), the size and the last write time in the system's
// own units. A file replaced by another, or written to, gets a new identity.
struct FileIdentity {
  uint64_t nVolume = 0;
  uint64_t nIndex = 0;
  uint64_t nSize = 0;
  int64_t nWriteTime = 0;

  bool operator==(const FileIdentity& other) const {
    return nVolume == other.nVolume && nIndex == other.nIndex && nSize == other.nSize &&
           nWriteTime == other.nWriteTime;
  }
};

class IFileIo {
 public:
  virtual ~IFileIo() = default;
  virtual FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) = 0;
  virtual bool ReadFile(FileHandle file, void* buffer, DWORD size, DWORD* read) = 0;
  virtual bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) = 0;
  // Moves the file pointer; `newPosition` (may be null) receives it.
  virtual bool SetFilePointer(FileHandle file, int64_t distance, DWORD method, uint64_t* newPosition) = 0;
  virtual bool GetFileSize(FileHandle file, uint64_t* size) = 0;
  virtual bool FlushFileBuffers(FileHandle file) = 0;
  virtual bool CloseFile(FileHandle file) = 0;
  // True when both open handles refer to the same file on disk.
  virtual bool IsSameFile(FileHandle a, FileHandle b) = 0;
  // The identity of the open file; false (nothing known) when the layer
  // cannot tell, which callers must treat as "never seen before".
  virtual bool GetFileIdentity(FileHandle file, FileIdentity* identity) {
    (void)file;
    (void)identity;
    return false;
  }
};

IFileIo& SystemFileIo();
// Installs `io` (not owned); null restores the system one. Returns the
// previously installed one (null for the system).
IFileIo* SetFileIoForTesting(IFileIo* io);
// The file access in use now.
IFileIo& CurrentFileIo();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_FILE_IO_H

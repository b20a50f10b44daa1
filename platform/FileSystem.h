// File and directory services with the Windows semantics the system relies
// on: create-always files shared for reading, unbuffered writes, deletion,
// existence tests and single-level directory creation.
//
// Calls go through the current IFileSystem. The posix backend supplies the
// real one; tests may install a fake (a failing file system, say) with
// SetFileSystemForTesting. Failures return INVALID_FILE_HANDLE or false and
// set the thread's last error (platform/ErrorText.h); nothing throws. Any
// thread may call; installing a fake is for single-threaded test set-up.
#ifndef VERSEWELL_PLATFORM_FILE_SYSTEM_H
#define VERSEWELL_PLATFORM_FILE_SYSTEM_H

#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace platform {

typedef intptr_t FileHandle;
constexpr FileHandle INVALID_FILE_HANDLE = -1;

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // CreateFileW(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS): creates the
  // file or truncates an existing one, for writing.
  virtual FileHandle CreateFileAlways(const std::wstring& path) = 0;
  // Writes all `size` bytes; `written` receives the count actually written.
  virtual bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written) = 0;
  virtual bool CloseHandle(FileHandle file) = 0;
  virtual bool DeleteFile(const std::wstring& path) = 0;
  // True when a file or directory exists at `path`.
  virtual bool PathFileExists(const std::wstring& path) = 0;
  // Creates one directory level; fails with ERROR_ALREADY_EXISTS when it
  // exists, ERROR_PATH_NOT_FOUND when its parent does not.
  virtual bool CreateDirectory(const std::wstring& path) = 0;
};

IFileSystem& SystemFileSystem();
// Installs `fs` (not owned); null restores the system file system. Returns
// the previously installed one (null for the system).
IFileSystem* SetFileSystemForTesting(IFileSystem* fs);

FileHandle CreateFileAlways(const std::wstring& path);
bool WriteFile(FileHandle file, const void* data, DWORD size, DWORD* written);
bool CloseHandle(FileHandle file);
bool DeleteFile(const std::wstring& path);
bool PathFileExists(const std::wstring& path);
bool CreateDirectory(const std::wstring& path);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_FILE_SYSTEM_H

// The file system calls of the posix private-profile module
// (platform/posix/PrivateProfile.cpp), behind a small interface so that
// tests can make any one of them fail: open, flock, pread, pwrite,
// ftruncate, fsync, rename and unlink, with the posix conventions (-1 or a
// short count, and errno). Calls that only describe a file (stat, fstat,
// fchmod, close) stay direct.
//
// SystemProfileFileCalls() makes the real calls. Tests install another with
// SetProfileFileCallsForTesting (not owned; null restores the real one);
// installing is for single-threaded set-up. Any thread may make the calls.
#ifndef VERSEWELL_PLATFORM_POSIX_PROFILE_FILE_CALLS_H
#define VERSEWELL_PLATFORM_POSIX_PROFILE_FILE_CALLS_H

#include <sys/types.h>

namespace platform {

class IProfileFileCalls {
 public:
  virtual ~IProfileFileCalls() = default;
  virtual int Open(const char* path, int flags, mode_t mode) = 0;
  virtual int Lock(int fd, int operation) = 0;
  virtual ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) = 0;
  virtual ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) = 0;
  virtual int Truncate(int fd, off_t size) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Rename(const char* from, const char* to) = 0;
  virtual int Unlink(const char* path) = 0;
};

IProfileFileCalls& SystemProfileFileCalls();
// Returns the previously installed calls (null for the real ones).
IProfileFileCalls* SetProfileFileCallsForTesting(IProfileFileCalls* calls);
IProfileFileCalls& CurrentProfileFileCalls();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_PROFILE_FILE_CALLS_H

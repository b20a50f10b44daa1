#include "platform/posix/ProfileFileCalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/NoDestructor.h"

namespace platform {
namespace {

class CSystemProfileFileCalls : public IProfileFileCalls {
 public:
  int Open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  int Lock(int fd, int operation) override { return ::flock(fd, operation); }
  ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) override {
    return ::pread(fd, buffer, size, offset);
  }
  ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) override {
    return ::pwrite(fd, data, size, offset);
  }
  int Truncate(int fd, off_t size) override { return ::ftruncate(fd, size); }
  int Sync(int fd) override { return ::fsync(fd); }
  int Rename(const char* from, const char* to) override { return ::rename(from, to); }
  int Unlink(const char* path) override { return ::unlink(path); }
};

std::atomic<IProfileFileCalls*> g_currentCalls{nullptr};

}  // namespace

IProfileFileCalls& SystemProfileFileCalls() {
  static NoDestructor<CSystemProfileFileCalls> s_calls;
  return *s_calls.get();
}

IProfileFileCalls* SetProfileFileCallsForTesting(IProfileFileCalls* calls) { return g_currentCalls.exchange(calls); }

IProfileFileCalls& CurrentProfileFileCalls() {
  IProfileFileCalls* p = g_currentCalls.load(std::memory_order_acquire);
  return p != nullptr ? *p : SystemProfileFileCalls();
}

}  // namespace platform

// posix backend of platform/Process.h.
#include "platform/Process.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

// Not cached per thread: a child made by fork() keeps the parent's
// thread-local values but runs as a thread of its own.
DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

void Sleep(DWORD milliseconds) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace platform

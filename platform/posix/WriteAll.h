// Writes a whole buffer to a posix descriptor, retrying short writes and
// EINTR, with the Windows WriteFile result convention: false and the
// thread's last error on failure, `written` receiving the bytes written
// either way. Shared by the posix file backends; any thread.
#ifndef VERSEWELL_PLATFORM_POSIX_WRITE_ALL_H
#define VERSEWELL_PLATFORM_POSIX_WRITE_ALL_H

#include <unistd.h>

#include <cerrno>

#include "platform/ErrorText.h"

namespace platform {

inline bool WriteAll(int fd, const void* data, DWORD size, DWORD* written) {
  const char* p = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrorFromErrno(errno));
      if (written != nullptr) *written = done;
      return false;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return true;
}

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_WRITE_ALL_H

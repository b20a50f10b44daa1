// Writes a whole buffer to a Win32 file handle, looping over short writes
// (pipes and some devices accept less than asked), with the WriteFile result
// convention: false and the thread's last error on failure, `written`
// receiving the bytes written either way. A write that fails keeps the
// system's own error; one that reports success but moves nothing would loop
// for ever, so it fails with ERROR_WRITE_FAULT (never a stale last error
// left by an earlier call). Shared by the win32 file backends; any thread.
//
// Include it after platform/win32/WinApi.h (see there).
#ifndef VERSEWELL_PLATFORM_WIN32_WRITE_ALL_H
#define VERSEWELL_PLATFORM_WIN32_WRITE_ALL_H

#include "platform/win32/WinApi.h"

namespace platform {

inline bool WriteAll(HANDLE file, const void* data, DWORD size, DWORD* written) {
  const char* p = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < size) {
    DWORD n = 0;
    if (!::WriteFile(file, p + done, size - done, &n, nullptr)) {
      if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_WRITE_FAULT);
      if (written != nullptr) *written = done;
      return false;
    }
    if (n == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      if (written != nullptr) *written = done;
      return false;
    }
    done += n;
  }
  if (written != nullptr) *written = done;
  return true;
}

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_WIN32_WRITE_ALL_H

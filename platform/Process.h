// Process and thread identity, and sleeping. Any thread may call these.
#ifndef VERSEWELL_PLATFORM_PROCESS_H
#define VERSEWELL_PLATFORM_PROCESS_H

#include "platform/Types.h"

namespace platform {

DWORD GetCurrentProcessId();
// A non-zero id unique among the live threads of the process.
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_PROCESS_H

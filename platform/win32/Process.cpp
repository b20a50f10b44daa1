// Windows backend of platform/Process.h.
#include "platform/Process.h"
#include "platform/win32/WinApi.h"

namespace platform {

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform

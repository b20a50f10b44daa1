// Windows backend of platform/DebugOutput.h: the real OutputDebugStringW
// (a no-op unless a debugger listens).
#include "platform/DebugOutput.h"
#include "platform/win32/WinApi.h"

namespace platform {

void OutputDebugStringW(const wchar_t* text) {
  if (text != nullptr) ::OutputDebugStringW(text);
}

}  // namespace platform

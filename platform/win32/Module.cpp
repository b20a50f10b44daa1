// Windows backend of platform/Module.h: GetModuleHandleExW on a function of
// this module, then GetModuleFileNameW with a growing buffer (a path may be
// longer than MAX_PATH).
#include <vector>

#include "platform/Module.h"
#include "platform/win32/WinApi.h"

namespace platform {

std::wstring GetOwnModulePath() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetOwnModulePath), &module))
    return std::wstring();
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    // A full buffer means the path was cut (the call gives no length).
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform

// Windows backend of platform/ErrorText.h: GetLastError / SetLastError and
// FormatMessageW.
//
// WinHTTP codes (12000-12999) have their texts in winhttp.dll's message
// table, not the system's, so they are looked up there. Where FormatMessageW
// gives nothing (Wine's winhttp.dll has no message table, and a stripped-down
// Windows may lack a language), the shared English table answers, so a code
// the system produces always has a text.
#include "platform/EnglishErrorText.h"
#include "platform/ErrorText.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

std::wstring FromMessageTable(DWORD code, DWORD languageId) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  if (code >= 12000 && code < 13000) {
    module = ::GetModuleHandleW(L"winhttp.dll");
    if (module == nullptr) return std::wstring();
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  } else {
    flags |= FORMAT_MESSAGE_FROM_SYSTEM;
  }
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(flags, module, code, languageId, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring result;
  if (n != 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) ::LocalFree(text);
  return result;
}

}  // namespace

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

std::wstring FormatSystemMessage(DWORD code, DWORD languageId) {
  const DWORD saved = ::GetLastError();  // the lookup must not disturb the caller's error
  std::wstring text = FromMessageTable(code, languageId);
  if (text.empty() && (languageId == 0 || languageId == 0x0409)) {
    const wchar_t* english = EnglishErrorText(code);
    if (english != nullptr) text = english;
  }
  ::SetLastError(saved);
  return text;
}

DWORD ErrorFromErrno(int e) {
  // The C runtime's errno values, for the few places that meet them.
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case 2: return ERROR_FILE_NOT_FOUND;    // ENOENT
    case 13: return ERROR_ACCESS_DENIED;    // EACCES
    case 17: return ERROR_ALREADY_EXISTS;   // EEXIST
    case 12: return ERROR_NOT_ENOUGH_MEMORY;  // ENOMEM
    case 9: return ERROR_INVALID_HANDLE;    // EBADF
    case 22: return ERROR_INVALID_PARAMETER;  // EINVAL
    case 28: return ERROR_DISK_FULL;        // ENOSPC
    default: return ERROR_WRITE_FAULT;
  }
}

}  // namespace platform

// posix backend of platform/ErrorText.h: a thread-local last error and the
// shared English system texts (platform/EnglishErrorText.cpp).
#include "platform/ErrorText.h"

#include <cerrno>

#include "platform/EnglishErrorText.h"

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

std::wstring FormatSystemMessage(DWORD code, DWORD /*languageId*/) {
  const wchar_t* text = EnglishErrorText(code);
  return text != nullptr ? std::wstring(text) : std::wstring();
}

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return ERROR_WRITE_FAULT;
  }
}

}  // namespace platform

// The calling thread's last error code, and the system's text for an error
// code (the FormatMessageW stand-in).
//
// Error codes are Windows codes on every platform: the posix backend maps
// errno values and transport failures onto them, and carries the English
// system texts for the codes it can produce, each ending in "\r\n" like the
// Windows message table. Any thread may call these.
#ifndef VERSEWELL_PLATFORM_ERROR_TEXT_H
#define VERSEWELL_PLATFORM_ERROR_TEXT_H

#include <string>

#include "platform/Types.h"

namespace platform {

DWORD GetLastError();
void SetLastError(DWORD code);

// The system text for `code` in `languageId` (0 = default, 0x0409 = US
// English; the posix backend knows English only). Empty when the system has
// no text for the code.
std::wstring FormatSystemMessage(DWORD code, DWORD languageId = 0);

// Maps a posix errno value onto the nearest Windows error code.
DWORD ErrorFromErrno(int errnoValue);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_ERROR_TEXT_H

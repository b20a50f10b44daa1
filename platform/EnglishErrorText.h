// The English system texts of the Windows and WinHTTP error codes this
// system produces, each ending in "\r\n" like the Windows message table.
// Shared by the backends: the posix backend has no other source of texts, and
// the Windows backend falls back to it where FormatMessageW has none (Wine's
// winhttp.dll carries no message table). Pure; any thread may call it.
#ifndef VERSEWELL_PLATFORM_ENGLISH_ERROR_TEXT_H
#define VERSEWELL_PLATFORM_ENGLISH_ERROR_TEXT_H

#include "platform/Types.h"

namespace platform {

// The text for `code`, or null when the table has none.
const wchar_t* EnglishErrorText(DWORD code);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_ENGLISH_ERROR_TEXT_H

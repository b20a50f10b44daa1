// The parts of MultiByteToWideChar and WideCharToMultiByte that are the same
// on every backend: the argument checks every call makes, and the whole
// UTF-8 (CP_UTF8) branch, which always runs through the shared codec
// (platform/Utf8Codec.h) so the results do not depend on the system's own
// UTF-8 handling. The backends add only what differs: resolving CP_ACP and
// CP_THREAD_ACP, and the other code pages.
//
// Failure: every function that fails sets the thread's last error and
// returns 0, as the Kernel32 calls do. Pure functions otherwise; any thread.
#ifndef VERSEWELL_PLATFORM_CODE_PAGE_ARGUMENTS_H
#define VERSEWELL_PLATFORM_CODE_PAGE_ARGUMENTS_H

#include "platform/Types.h"
#include "platform/Utf8Codec.h"

namespace platform {

// True when a conversion's source and destination arguments are usable: a
// source, a length of -1 (terminated) or above 0, a destination size of 0
// (measure only) or above with a destination. Else false with
// ERROR_INVALID_PARAMETER as the last error.
bool ConversionArgumentsValid(const void* source, int sourceLength, const void* destination, int destinationSize);

// Sets the last error that stands for a codec outcome other than kOk and
// returns 0.
int FailConversion(Utf8Outcome outcome);

// MultiByteToWideChar for CP_UTF8, arguments already checked: only
// MB_ERR_INVALID_CHARS is a valid flag.
int Utf8ToWideChar(DWORD flags, const char* source, int sourceLength, wchar_t* destination, int destinationSize);

// WideCharToMultiByte for CP_UTF8, arguments already checked: only
// WC_ERR_INVALID_CHARS is a valid flag, and no default character may be
// given or asked about.
int WideCharToUtf8(DWORD flags, const wchar_t* source, int sourceLength, char* destination, int destinationSize,
                   const char* defaultChar, BOOL* usedDefaultChar);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_CODE_PAGE_ARGUMENTS_H

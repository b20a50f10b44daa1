// Code page services: the MultiByteToWideChar / WideCharToMultiByte stand-ins,
// the system's ANSI code page (GetACP) and the calling thread's ANSI code page.
//
// Contract shared with the Windows functions of the same name:
// - A source length of -1 reads up to and including the first NUL and counts
//   the terminator in the result. A source length of 0 or below -1, a null
//   source, a negative destination size or a null destination with a size
//   above 0 fail with ERROR_INVALID_PARAMETER (87).
// - A destination size of 0 returns the size needed, in destination units.
// - A destination that is too small fails with ERROR_INSUFFICIENT_BUFFER (122).
// - Every failure returns 0 and sets the thread's last error
//   (platform/ErrorText.h); success leaves the last error as it was.
// - Code page 65001 (UTF-8) accepts only the flags 0 and the "error on
//   invalid" flag (else ERROR_INVALID_FLAGS) and no default character (else
//   ERROR_INVALID_PARAMETER). With flags 0 every maximal invalid UTF-8
//   subsequence becomes one U+FFFD; with MB_ERR_INVALID_CHARS the call fails
//   with ERROR_NO_UNICODE_TRANSLATION instead.
// - Other code pages take MB_PRECOMPOSED (precomposed output, the default)
//   and WC_COMPOSITECHECK | WC_SEPCHARS (a base character followed by
//   combining marks is composed before the conversion); a character the code
//   page cannot represent becomes the default character (the caller's, or
//   "?"), and `usedDefaultChar`, when given, says whether that happened.
// - Code page 0 (CP_ACP) is the system's ANSI code page, 3 (CP_THREAD_ACP)
//   the calling thread's. An unknown code page fails with
//   ERROR_INVALID_PARAMETER.
//
// Wide text is wchar_t. Where wchar_t is 32 bits (Linux) a "UTF-16" result
// holds one wide character per code point; on input a high surrogate
// followed by a low surrogate counts as the pair's code point, and a lone
// surrogate unit is an unpaired (invalid) character, never a crash.
//
// The ANSI code pages: on the posix backend the system's ANSI code page is the
// charset of the process locale, the thread's that of the thread's current
// locale (uselocale), mapped onto a Windows code page number by one table.
// Tests install an IAnsiCodePageSource to fix both without touching the
// locale.
//
// Threads: every function may be called from any thread; installing a source
// is for single-threaded test set-up only.
#ifndef VERSEWELL_PLATFORM_CODE_PAGE_H
#define VERSEWELL_PLATFORM_CODE_PAGE_H

#include "platform/Types.h"

namespace platform {

constexpr UINT CP_ACP = 0;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_PRECOMPOSED = 0x00000001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
constexpr DWORD WC_SEPCHARS = 0x00000020;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
constexpr DWORD WC_COMPOSITECHECK = 0x00000200;

constexpr DWORD ERROR_INVALID_FLAGS = 1004;

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength, wchar_t* destination,
                        int destinationSize);

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source, int sourceLength, char* destination,
                        int destinationSize, const char* defaultChar, BOOL* usedDefaultChar);

// The system's ANSI code page.
UINT GetACP();
// The calling thread's ANSI code page (what CP_THREAD_ACP stands for).
UINT GetThreadACP();

// True when `codePage` names a code page the converters know (0 and 3
// included).
bool IsValidCodePage(UINT codePage);

// Where the two ANSI code pages come from.
class IAnsiCodePageSource {
 public:
  virtual ~IAnsiCodePageSource() = default;
  virtual UINT GetACP() = 0;
  virtual UINT GetThreadACP() = 0;
};

// Installs `source` (not owned) for every later call; null restores the
// locale-based source. Returns the previously installed one (null for the
// locale-based source).
IAnsiCodePageSource* SetAnsiCodePageSourceForTesting(IAnsiCodePageSource* source);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_CODE_PAGE_H

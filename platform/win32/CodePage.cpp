// Windows backend of platform/CodePage.h: MultiByteToWideChar,
// WideCharToMultiByte and GetACP of Kernel32 for the ANSI and OEM code pages;
// UTF-8 through the shared codec (platform/Utf8Codec.h).
//
// Kernel32 behaviour that shaped this file: the argument checks of the
// contract (a source length of 0, flags that UTF-8 does not take, a default
// character with UTF-8) are made here, because Wine accepts some of those
// calls that Windows refuses; and UTF-8 uses the shared codec, because
// Wine's decoder does not replace each maximal invalid subsequence by one
// U+FFFD as Windows 10 and the posix backend do. The calling thread's ANSI code page is the default ANSI
// code page of the thread locale (GetThreadLocale), which is what
// CP_THREAD_ACP means to Kernel32.
//
// A test-installed IAnsiCodePageSource replaces both ANSI code pages: CP_ACP
// and CP_THREAD_ACP are then resolved here before Kernel32 sees them.
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>

#include "platform/CodePage.h"
#include "platform/ErrorText.h"
#include "platform/Utf8Codec.h"
#include "platform/win32/WinApi.h"

namespace platform {
namespace {

std::atomic<IAnsiCodePageSource*> g_ansiSource{nullptr};

UINT Resolve(UINT codePage) {
  IAnsiCodePageSource* source = g_ansiSource.load(std::memory_order_acquire);
  if (source == nullptr) return codePage;
  if (codePage == CP_ACP) return source->GetACP();
  if (codePage == CP_THREAD_ACP) return source->GetThreadACP();
  return codePage;
}

UINT ThreadLocaleCodePage() {
  DWORD value = 0;
  if (::GetLocaleInfoW(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<wchar_t*>(&value), sizeof value / sizeof(wchar_t)) == 0 ||
      value == 0)
    return ::GetACP();
  return value;
}

int Fail(DWORD error) {
  ::SetLastError(error);
  return 0;
}

int FailFor(Utf8Outcome outcome) {
  switch (outcome) {
    case Utf8Outcome::kInvalid: return Fail(ERROR_NO_UNICODE_TRANSLATION);
    case Utf8Outcome::kOverflow: return Fail(ERROR_INSUFFICIENT_BUFFER);
    case Utf8Outcome::kNoMemory: return Fail(ERROR_NOT_ENOUGH_MEMORY);
    case Utf8Outcome::kBadCodePage: return Fail(ERROR_INVALID_PARAMETER);
    case Utf8Outcome::kOk: break;
  }
  return 0;
}

}  // namespace

UINT GetACP() {
  IAnsiCodePageSource* source = g_ansiSource.load(std::memory_order_acquire);
  return source != nullptr ? source->GetACP() : ::GetACP();
}

UINT GetThreadACP() {
  IAnsiCodePageSource* source = g_ansiSource.load(std::memory_order_acquire);
  return source != nullptr ? source->GetThreadACP() : ThreadLocaleCodePage();
}

bool IsValidCodePage(UINT codePage) {
  const UINT cp = Resolve(codePage);
  return cp == CP_ACP || cp == CP_THREAD_ACP || ::IsValidCodePage(cp) != FALSE;
}

IAnsiCodePageSource* SetAnsiCodePageSourceForTesting(IAnsiCodePageSource* source) {
  return g_ansiSource.exchange(source);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength, wchar_t* destination,
                        int destinationSize) {
  if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destinationSize < 0 ||
      (destinationSize > 0 && destination == nullptr))
    return Fail(ERROR_INVALID_PARAMETER);
  const UINT cp = Resolve(codePage);
  if (cp != CP_UTF8) return ::MultiByteToWideChar(cp, flags, source, sourceLength, destination, destinationSize);
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  const size_t length = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
  size_t produced = 0;
  const Utf8Outcome outcome = DecodeUtf8(p, p + length, (flags & MB_ERR_INVALID_CHARS) != 0,
                                         destinationSize > 0 ? destination : nullptr,
                                         static_cast<size_t>(destinationSize), produced);
  if (outcome != Utf8Outcome::kOk) return FailFor(outcome);
  if (produced > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(produced);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source, int sourceLength, char* destination,
                        int destinationSize, const char* defaultChar, BOOL* usedDefaultChar) {
  if (source == nullptr || sourceLength == 0 || sourceLength < -1 || destinationSize < 0 ||
      (destinationSize > 0 && destination == nullptr))
    return Fail(ERROR_INVALID_PARAMETER);
  const UINT cp = Resolve(codePage);
  if (cp != CP_UTF8)
    return ::WideCharToMultiByte(cp, flags, source, sourceLength, destination, destinationSize, defaultChar,
                                 usedDefaultChar);
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  if (defaultChar != nullptr || usedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = sourceLength == -1 ? std::wcslen(source) + 1 : static_cast<size_t>(sourceLength);
  size_t produced = 0;
  const Utf8Outcome outcome = EncodeUtf8(source, source + length, (flags & WC_ERR_INVALID_CHARS) != 0,
                                         destinationSize > 0 ? destination : nullptr,
                                         static_cast<size_t>(destinationSize), produced);
  if (outcome != Utf8Outcome::kOk) return FailFor(outcome);
  if (produced > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(produced);
}

}  // namespace platform

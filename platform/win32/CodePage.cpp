// Windows backend of platform/CodePage.h: MultiByteToWideChar,
// WideCharToMultiByte and GetACP of Kernel32 for the ANSI and OEM code pages;
// the argument checks and UTF-8 are shared (platform/CodePageArguments.h).
//
// Kernel32 behaviour that shaped this file: the argument checks of the
// contract (a source length of 0, flags that UTF-8 does not take, a default
// character with UTF-8) are made before Kernel32 sees a call, because Wine
// accepts some of those calls that Windows refuses; and UTF-8 uses the
// shared codec, because Wine's decoder does not replace each maximal invalid
// subsequence by one U+FFFD as Windows 10 and the posix backend do. The
// calling thread's ANSI code page is the default ANSI code page of the thread
// locale (GetThreadLocale), which is what
// CP_THREAD_ACP means to Kernel32.
//
// A test-installed IAnsiCodePageSource replaces both ANSI code pages: CP_ACP
// and CP_THREAD_ACP are then resolved here before Kernel32 sees them.
#include <atomic>

#include "platform/CodePage.h"
#include "platform/CodePageArguments.h"
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
  if (!ConversionArgumentsValid(source, sourceLength, destination, destinationSize)) return 0;
  const UINT cp = Resolve(codePage);
  if (cp != CP_UTF8) return ::MultiByteToWideChar(cp, flags, source, sourceLength, destination, destinationSize);
  return Utf8ToWideChar(flags, source, sourceLength, destination, destinationSize);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source, int sourceLength, char* destination,
                        int destinationSize, const char* defaultChar, BOOL* usedDefaultChar) {
  if (!ConversionArgumentsValid(source, sourceLength, destination, destinationSize)) return 0;
  const UINT cp = Resolve(codePage);
  if (cp != CP_UTF8)
    return ::WideCharToMultiByte(cp, flags, source, sourceLength, destination, destinationSize, defaultChar,
                                 usedDefaultChar);
  return WideCharToUtf8(flags, source, sourceLength, destination, destinationSize, defaultChar, usedDefaultChar);
}

}  // namespace platform

// posix backend of platform/CodePage.h.
//
// The argument checks and UTF-8 are shared with the Windows backend
// (platform/CodePageArguments.h; UTF-8 must be fast and exact about invalid
// sequences); every other code page goes through an ICU converter. The ANSI code pages come from the locale's charset (nl_langinfo),
// looked up in the same table that names the converters.
#include "platform/CodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <climits>
#include <memory>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePageArguments.h"
#include "platform/ErrorText.h"
#include "platform/NoDestructor.h"
#include "platform/Utf8Codec.h"
#include "platform/posix/IcuCalls.h"

namespace platform {
namespace {

typedef Utf8Outcome Outcome;
constexpr wchar_t kReplacement = 0xFFFD;

// ---------------------------------------------------------------------------
// The one table that maps Windows code page numbers onto converter names.
// ---------------------------------------------------------------------------
struct CodePageName {
  UINT codePage;
  const char* converterName;
};

const CodePageName kCodePages[] = {
    {65001, "UTF-8"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {874, "windows-874"},
    {932, "windows-932"},
    {936, "windows-936"},
    {949, "windows-949"},
    {950, "windows-950"},
    {437, "ibm-437"},
    {850, "ibm-850"},
    {852, "ibm-852"},
    {866, "ibm-866"},
    {20127, "US-ASCII"},
    {20866, "KOI8-R"},
    {21866, "KOI8-U"},
    {20932, "EUC-JP"},
    {51932, "EUC-JP"},
    {51949, "EUC-KR"},
    {54936, "GB18030"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {10000, "macintosh"},
};

// When the locale's charset is not in the table: UTF-8 loses nothing.
constexpr UINT kFallbackAnsiCodePage = CP_UTF8;

const char* ConverterNameFor(UINT codePage) {
  for (const CodePageName& row : kCodePages)
    if (row.codePage == codePage) return row.converterName;
  return nullptr;
}

// ICU's canonical name for a charset or alias; empty when ICU does not know it.
std::string CanonicalConverterName(const char* name) {
  if (IcuCalls() == nullptr) return std::string();
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = IcuCalls()->ucnv_open(name, &status);
  if (U_FAILURE(status) || cnv == nullptr) return std::string();
  const char* canonical = IcuCalls()->ucnv_getName(cnv, &status);
  std::string result = U_SUCCESS(status) && canonical != nullptr ? canonical : "";
  IcuCalls()->ucnv_close(cnv);
  return result;
}

// Maps a locale charset name ("UTF-8", "ISO-8859-1", "ANSI_X3.4-1968", ...)
// onto a Windows code page through the canonical converter names.
UINT CodePageForCharset(const char* charset) {
  // The two charsets nearly every process has, answered without ICU (what
  // the table below gives for them): UTF-8, and the C locale's ASCII.
  if (charset != nullptr && (std::strcmp(charset, "UTF-8") == 0 || std::strcmp(charset, "ANSI_X3.4-1968") == 0))
    return kFallbackAnsiCodePage;
  // Never destroyed: the trace log's merge at unload may still convert.
  static NoDestructor<std::vector<std::string>> s_names([] {
    std::vector<std::string> names;
    for (const CodePageName& row : kCodePages) names.push_back(CanonicalConverterName(row.converterName));
    return names;
  }());
  const std::vector<std::string>& s_canonical = *s_names.get();
  if (charset == nullptr || *charset == '\0') return kFallbackAnsiCodePage;
  std::string canonical = CanonicalConverterName(charset);
  if (canonical.empty()) return kFallbackAnsiCodePage;
  // The C/POSIX locale (ASCII) is what every process has until it calls
  // setlocale, so it means "no charset chosen" rather than "ASCII only".
  // UTF-8 then keeps names and messages intact instead of turning every
  // non-ASCII character into '?'.
  for (size_t i = 0; i < s_canonical.size(); ++i) {
    if (s_canonical[i] != canonical) continue;
    return kCodePages[i].codePage == 20127 ? kFallbackAnsiCodePage : kCodePages[i].codePage;
  }
  return kFallbackAnsiCodePage;
}

// Per-thread memo of the last charset looked up: the locale rarely changes.
// Plain arrays only: thread-local storage with a destructor would keep the
// plug-in from unloading.
UINT CachedCodePageForCharset(const char* charset) {
  thread_local char t_charset[64];
  thread_local UINT t_codePage = 0;
  thread_local bool t_valid = false;
  const char* name = charset != nullptr ? charset : "";
  size_t length = std::strlen(name);
  if (length >= sizeof t_charset) return CodePageForCharset(charset);
  if (!t_valid || std::strcmp(name, t_charset) != 0) {
    t_codePage = CodePageForCharset(charset);
    std::memcpy(t_charset, name, length + 1);
    t_valid = true;
  }
  return t_codePage;
}

class CLocaleAnsiCodePageSource : public IAnsiCodePageSource {
 public:
  UINT GetACP() override {
    // The process (global) locale, whatever the calling thread has selected.
    locale_t global = duplocale(LC_GLOBAL_LOCALE);
    if (global == static_cast<locale_t>(0)) return kFallbackAnsiCodePage;
    UINT cp = CachedCodePageForCharset(nl_langinfo_l(CODESET, global));
    freelocale(global);
    return cp;
  }
  UINT GetThreadACP() override {
    locale_t current = uselocale(static_cast<locale_t>(0));
    if (current == LC_GLOBAL_LOCALE) return GetACP();
    return CachedCodePageForCharset(nl_langinfo_l(CODESET, current));
  }
};

std::atomic<IAnsiCodePageSource*> g_ansiSource{nullptr};

IAnsiCodePageSource& AnsiSource() {
  static NoDestructor<CLocaleAnsiCodePageSource> s_locale;
  IAnsiCodePageSource* source = g_ansiSource.load(std::memory_order_acquire);
  return source != nullptr ? *source : *s_locale.get();
}

UINT ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP) return AnsiSource().GetACP();
  if (codePage == CP_THREAD_ACP) return AnsiSource().GetThreadACP();
  return codePage;
}

// ---------------------------------------------------------------------------
// ICU converters for the other code pages, one cached set per thread.
// ---------------------------------------------------------------------------
struct ConverterCloser {
  void operator()(UConverter* cnv) const { IcuCalls()->ucnv_close(cnv); }
};
typedef std::unique_ptr<UConverter, ConverterCloser> ConverterPtr;

// A fresh converter for `codePage`; null when the table or ICU lacks it.
// Opened per call rather than cached per thread: a thread-local cache with a
// destructor would pin the plug-in in memory (glibc does not unload a
// library while a thread holds such storage), and ICU shares the converter
// tables between opens, so an open is cheap.
ConverterPtr ConverterFor(UINT codePage) {
  const char* name = ConverterNameFor(codePage);
  if (name == nullptr || IcuCalls() == nullptr) return ConverterPtr();
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = IcuCalls()->ucnv_open(name, &status);
  if (U_FAILURE(status) || cnv == nullptr) return ConverterPtr();
  return ConverterPtr(cnv);
}

// Records whether the substitution (default) character was used, then
// substitutes as ICU does.
struct SubstitutionContext {
  bool used = false;
};

void U_CALLCONV FromUnicodeRecordingSubstitute(const void* context, UConverterFromUnicodeArgs* args,
                                               const UChar* codeUnits, int32_t length, UChar32 codePoint,
                                               UConverterCallbackReason reason, UErrorCode* err) {
  if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR)
    static_cast<SubstitutionContext*>(const_cast<void*>(context))->used = true;
  IcuCalls()->UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, codeUnits, length, codePoint, reason, err);
}

Outcome IcuToWide(UINT codePage, bool failOnInvalid, const char* source, size_t length, std::wstring& result) {
  ConverterPtr converter = ConverterFor(codePage);
  if (!converter) return Outcome::kBadCodePage;
  UConverter* cnv = converter.get();
  if (length > static_cast<size_t>(INT32_MAX) / 2) return Outcome::kNoMemory;
  UErrorCode status = U_ZERO_ERROR;
  if (failOnInvalid) {
    IcuCalls()->ucnv_setToUCallBack(cnv, IcuCalls()->UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  } else {
    IcuCalls()->ucnv_setToUCallBack(cnv, IcuCalls()->UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
  }
  std::u16string units;
  try {
    units.resize(length * 2 + 16);
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
  const char* in = source;
  const char* inEnd = source + length;
  UChar* out = reinterpret_cast<UChar*>(&units[0]);
  UChar* outEnd = out + units.size();
  status = U_ZERO_ERROR;
  IcuCalls()->ucnv_toUnicode(cnv, &out, outEnd, &in, inEnd, nullptr, 1, &status);
  if (status == U_INVALID_CHAR_FOUND || status == U_ILLEGAL_CHAR_FOUND || status == U_TRUNCATED_CHAR_FOUND ||
      status == U_ILLEGAL_ESCAPE_SEQUENCE || status == U_UNSUPPORTED_ESCAPE_SEQUENCE)
    return Outcome::kInvalid;
  if (U_FAILURE(status)) return Outcome::kNoMemory;
  size_t count = static_cast<size_t>(out - reinterpret_cast<UChar*>(&units[0]));
  result.clear();
  result.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint32_t>(units[i + 1]) - 0xDC00);
      ++i;
    }
    result.push_back(static_cast<wchar_t>(u));
  }
  return Outcome::kOk;
}

Outcome IcuToNarrow(UINT codePage, DWORD flags, const wchar_t* source, size_t length, const char* defaultChar,
                    bool& usedDefault, std::string& result) {
  ConverterPtr converter = ConverterFor(codePage);
  if (!converter) return Outcome::kBadCodePage;
  UConverter* cnv = converter.get();
  if (length > static_cast<size_t>(INT32_MAX) / 4) return Outcome::kNoMemory;
  std::u16string units;
  try {
    units.reserve(length);
    for (size_t i = 0; i < length; ++i) {
      uint32_t u = static_cast<uint32_t>(source[i]);
      if (u > 0x10FFFF) u = kReplacement;
      if (u >= 0x10000) {
        u -= 0x10000;
        units.push_back(static_cast<char16_t>(0xD800 + (u >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (u & 0x3FF)));
      } else {
        units.push_back(static_cast<char16_t>(u));
      }
    }
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
  UErrorCode status = U_ZERO_ERROR;
  if ((flags & WC_COMPOSITECHECK) != 0 && !units.empty()) {
    const UNormalizer2* nfc = IcuCalls()->unorm2_getNFCInstance(&status);
    if (U_SUCCESS(status)) {
      std::u16string composed(units.size() + 16, u'\0');
      int32_t n = IcuCalls()->unorm2_normalize(nfc, reinterpret_cast<const UChar*>(units.data()),
                                   static_cast<int32_t>(units.size()), reinterpret_cast<UChar*>(&composed[0]),
                                   static_cast<int32_t>(composed.size()), &status);
      if (U_SUCCESS(status)) {
        composed.resize(static_cast<size_t>(n));
        units.swap(composed);
      }
    }
    status = U_ZERO_ERROR;
  }
  SubstitutionContext context;
  IcuCalls()->ucnv_setFallback(cnv, (flags & 0x400 /* WC_NO_BEST_FIT_CHARS */) == 0 ? 1 : 0);
  const char question = '?';
  IcuCalls()->ucnv_setSubstChars(cnv, defaultChar != nullptr ? defaultChar : &question, 1, &status);
  status = U_ZERO_ERROR;
  IcuCalls()->ucnv_setFromUCallBack(cnv, FromUnicodeRecordingSubstitute, &context, nullptr, nullptr, &status);
  if (U_FAILURE(status)) return Outcome::kNoMemory;
  try {
    result.assign(units.size() * static_cast<size_t>(IcuCalls()->ucnv_getMaxCharSize(cnv)) + 16, '\0');
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
  const UChar* in = reinterpret_cast<const UChar*>(units.data());
  const UChar* inEnd = in + units.size();
  char* out = &result[0];
  char* outEnd = out + result.size();
  IcuCalls()->ucnv_fromUnicode(cnv, &out, outEnd, &in, inEnd, nullptr, 1, &status);
  if (U_FAILURE(status)) return Outcome::kInvalid;
  result.resize(static_cast<size_t>(out - &result[0]));
  usedDefault = context.used;
  return Outcome::kOk;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

UINT GetACP() { return AnsiSource().GetACP(); }
UINT GetThreadACP() { return AnsiSource().GetThreadACP(); }

bool IsValidCodePage(UINT codePage) {
  UINT resolved = ResolveCodePage(codePage);
  return resolved == CP_UTF8 || ConverterFor(resolved) != nullptr;
}

IAnsiCodePageSource* SetAnsiCodePageSourceForTesting(IAnsiCodePageSource* source) {
  return g_ansiSource.exchange(source);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength, wchar_t* destination,
                        int destinationSize) {
  if (!ConversionArgumentsValid(source, sourceLength, destination, destinationSize)) return 0;
  const UINT cp = ResolveCodePage(codePage);
  if (cp == CP_UTF8) return Utf8ToWideChar(flags, source, sourceLength, destination, destinationSize);
  size_t length = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
  const bool failOnInvalid = (flags & MB_ERR_INVALID_CHARS) != 0;

  const DWORD known = MB_PRECOMPOSED | 0x2 /* MB_COMPOSITE */ | 0x4 /* MB_USEGLYPHCHARS */ | MB_ERR_INVALID_CHARS;
  if ((flags & ~known) != 0 || (flags & 0x3) == 0x3) return Fail(ERROR_INVALID_FLAGS);
  std::wstring wide;
  Outcome outcome = IcuToWide(cp, failOnInvalid, source, length, wide);
  if (outcome != Outcome::kOk) return FailConversion(outcome);
  if (wide.size() > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  if (destinationSize == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(destinationSize)) {
    std::memcpy(destination, wide.data(), static_cast<size_t>(destinationSize) * sizeof(wchar_t));
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(destination, wide.data(), wide.size() * sizeof(wchar_t));
  return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source, int sourceLength, char* destination,
                        int destinationSize, const char* defaultChar, BOOL* usedDefaultChar) {
  if (!ConversionArgumentsValid(source, sourceLength, destination, destinationSize)) return 0;
  const UINT cp = ResolveCodePage(codePage);
  if (cp == CP_UTF8)
    return WideCharToUtf8(flags, source, sourceLength, destination, destinationSize, defaultChar, usedDefaultChar);
  size_t length = sourceLength == -1 ? std::wcslen(source) + 1 : static_cast<size_t>(sourceLength);

  const DWORD known = WC_COMPOSITECHECK | WC_SEPCHARS | 0x10 /* WC_DISCARDNS */ | 0x40 /* WC_DEFAULTCHAR */ |
                      0x400 /* WC_NO_BEST_FIT_CHARS */;
  if ((flags & ~known) != 0) return Fail(ERROR_INVALID_FLAGS);
  std::string narrow;
  bool used = false;
  Outcome outcome = IcuToNarrow(cp, flags, source, length, defaultChar, used, narrow);
  if (outcome != Outcome::kOk) return FailConversion(outcome);
  if (narrow.size() > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  if (usedDefaultChar != nullptr) *usedDefaultChar = used ? 1 : 0;
  if (destinationSize == 0) return static_cast<int>(narrow.size());
  if (narrow.size() > static_cast<size_t>(destinationSize)) {
    std::memcpy(destination, narrow.data(), static_cast<size_t>(destinationSize));
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(destination, narrow.data(), narrow.size());
  return static_cast<int>(narrow.size());
}

}  // namespace platform

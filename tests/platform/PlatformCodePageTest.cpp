// The MultiByteToWideChar / WideCharToMultiByte stand-ins and the ANSI code
// page sources.
#include <clocale>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/ErrorText.h"
#include "platform/Path.h"
#include "support/FakeAnsiCodePage.h"

using namespace platform;

namespace {

// Whole-string UTF-8 decode with an explicit length (no terminator).
std::wstring DecodeUtf8(const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(CP_UTF8, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
  return out;
}

std::string Narrow(UINT cp, const std::wstring& text, DWORD flags = 0, const char* defaultChar = nullptr,
                   BOOL* used = nullptr) {
  int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, defaultChar, used);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), &out[0], n, defaultChar, used);
  return out;
}

std::wstring Widen(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
  return out;
}

}  // namespace

// One code point as wide text: one unit where wchar_t is 4 bytes, a
// surrogate pair above U+FFFF where it is 2.
std::wstring Wide(uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp > 0xFFFF)
    return {static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<wchar_t>(0xDC00 + (cp & 0x3FF))};
  return std::wstring(1, static_cast<wchar_t>(cp));
}

TEST(MultiByteToWideChar, LengthMinusOneCountsTheTerminatorAndStopsAtTheFirstNul) {
  const char text[] = "ab\0cd";
  EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0));
  wchar_t out[8];
  std::fill(out, out + 8, L'x');
  EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 8));
  EXPECT_EQ(std::wstring(L"ab"), std::wstring(out));
  // An explicit length converts NUL bytes like any other byte.
  EXPECT_EQ(5, MultiByteToWideChar(CP_UTF8, 0, text, 5, nullptr, 0));
  EXPECT_EQ(1, MultiByteToWideChar(CP_UTF8, 0, "", -1, nullptr, 0));
}

TEST(MultiByteToWideChar, DestinationTooSmallFailsWithError122) {
  wchar_t out[3];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 3));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(1252, MB_PRECOMPOSED, "abc", -1, out, 3));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(4, MultiByteToWideChar(1252, MB_PRECOMPOSED, "abc", -1, nullptr, 0));
}

TEST(MultiByteToWideChar, BadArgumentsFailWithInvalidParameter) {
  wchar_t out[4];
  struct Case {
    UINT cp;
    const char* src;
    int srcLen;
    wchar_t* dst;
    int dstLen;
  } cases[] = {
      {CP_UTF8, nullptr, -1, out, 4}, {CP_UTF8, "a", 0, out, 4},  {CP_UTF8, "a", -2, out, 4},
      {CP_UTF8, "a", -1, nullptr, 4}, {CP_UTF8, "a", -1, out, -1}, {12345, "a", -1, out, 4},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(c.cp, 0, c.src, c.srcLen, c.dst, c.dstLen));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  }
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, out, 4));
  EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
}

TEST(Utf8Decoding, EachMaximalInvalidSubsequenceBecomesOneReplacementCharacter) {
  const wchar_t R = 0xFFFD;
  struct Case {
    std::string bytes;
    std::wstring expected;
  } cases[] = {
      // The example of the Unicode standard (Table 3-8).
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", {L'a', R, R, R, L'b', R, L'c', R, R, L'd'}},
      {"\xC0\xAF", {R, R}},                  // overlong lead bytes are never valid
      {"\xE0\x80\x80", {R, R, R}},           // overlong three-byte form
      {"\xED\xA0\x80", {R, R, R}},           // an encoded surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},    // beyond U+10FFFF
      {"\xF5\x80", {R, R}},
      {"x\xE2\x82", {L'x', R}},              // truncated at the end
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x98\x80", Wide(0x1F600)},
      {"\xEF\xBF\xBF", {0xFFFF}},
      {"\xF4\x8F\xBF\xBF", Wide(0x10FFFF)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, DecodeUtf8(c.bytes)) << c.bytes;
}

TEST(Utf8Decoding, ErrorOnInvalidFlagFailsInsteadOfReplacing) {
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, nullptr, 0));
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
  EXPECT_EQ(std::wstring(L"ok"), DecodeUtf8("ok", MB_ERR_INVALID_CHARS));
}

TEST(Utf8Encoding, SurrogatePairsCombineAndLoneSurrogatesBecomeReplacementCharacters) {
  std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  EXPECT_EQ("\xF0\x9F\x98\x80", Narrow(CP_UTF8, pair));
  std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b', static_cast<wchar_t>(0xDC00)};
  EXPECT_EQ("a\xEF\xBF\xBD" "b\xEF\xBF\xBD", Narrow(CP_UTF8, lone));
  if (sizeof(wchar_t) == 4) {  // only a 4-byte wchar_t can hold values beyond U+10FFFF
    std::wstring beyond = {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)};
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", Narrow(CP_UTF8, beyond));
  }
  EXPECT_EQ("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", Narrow(CP_UTF8, L"\u00E9\u20AC\U0001F600"));

  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 4, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
}

TEST(Utf8Encoding, RefusesDefaultCharactersAndCodePageFlags) {
  char def = '#';
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, L"a", -1, nullptr, 0, &def, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK | WC_SEPCHARS, L"a", -1, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
  char out[2];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, L"\u00E9", -1, out, 2, nullptr, nullptr));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(WindowsCodePages, ConvertBothWaysThroughTheTable) {
  EXPECT_EQ(std::wstring(L"caf\u00E9 \u20AC"), Widen(1252, "caf\xE9 \x80", MB_PRECOMPOSED));
  EXPECT_EQ("caf\xE9 \x80", Narrow(1252, L"caf\u00E9 \u20AC", WC_COMPOSITECHECK | WC_SEPCHARS));
  EXPECT_EQ(std::wstring(L"\u0416"), Widen(1251, "\xC6"));
  EXPECT_EQ(std::wstring(L"\u00E9"), Widen(28591, "\xE9"));
  EXPECT_EQ(std::wstring(L"\u65E5\u672C"), Widen(932, "\x93\xFA\x96\x7B"));
  EXPECT_EQ("\x93\xFA\x96\x7B", Narrow(932, L"\u65E5\u672C"));
  // A supplementary character comes back as one character (a surrogate
  // pair where wchar_t is 2 bytes). Wine has no GB18030 (Windows has): a
  // backend without it must then refuse the code page as unknown.
  if (IsValidCodePage(54936)) {
    std::string gb = Narrow(54936, L"\U00020000");
    EXPECT_EQ(4u, gb.size());
    EXPECT_EQ(std::wstring(L"\U00020000"), Widen(54936, gb));
  } else {
    wchar_t out[4];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(54936, 0, "a", 1, out, 4));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  }
}

TEST(WindowsCodePages, UnmappableCharactersBecomeTheDefaultCharacter) {
  BOOL used = 0;
  EXPECT_EQ("a?b", Narrow(1252, L"a\u0416b", WC_COMPOSITECHECK | WC_SEPCHARS, nullptr, &used));
  EXPECT_EQ(1, used);
  char def = '#';
  used = 0;
  EXPECT_EQ("a#b", Narrow(1252, L"a\u0416b", WC_COMPOSITECHECK | WC_SEPCHARS, &def, &used));
  EXPECT_EQ(1, used);
  used = 1;
  EXPECT_EQ("ab", Narrow(1252, L"ab", WC_COMPOSITECHECK | WC_SEPCHARS, &def, &used));
  EXPECT_EQ(0, used);
  // Lone surrogates are unmappable, not fatal.
  std::wstring lone = {L'x', static_cast<wchar_t>(0xDC00)};
  EXPECT_EQ("x#", Narrow(1252, lone, 0, &def));
}

TEST(WindowsCodePages, CompositeCheckComposesBaseAndCombiningMark) {
  EXPECT_EQ("\xE9", Narrow(1252, L"e\u0301", WC_COMPOSITECHECK | WC_SEPCHARS));
}

TEST(AnsiCodePages, ZeroAndThreeFollowTheInstalledSource) {
  ScopedFakeAnsiCodePage fake(1251, 1252);
  EXPECT_EQ(1251u, GetACP());
  EXPECT_EQ(1252u, GetThreadACP());
  EXPECT_EQ(std::wstring(L"\u0439"), Widen(CP_ACP, "\xE9"));
  EXPECT_EQ(std::wstring(L"\u00E9"), Widen(CP_THREAD_ACP, "\xE9"));
  fake.Fake().SetThread(CP_UTF8);
  EXPECT_EQ(std::wstring(L"\u00E9"), Widen(CP_THREAD_ACP, "\xC3\xA9"));
  fake.Fake().SetThread(4242);
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_THREAD_ACP, 0, "a", -1, nullptr, 0));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(AnsiCodePages, LocaleCharsetMapsOntoWindowsCodePages) {
  std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(CP_UTF8, GetACP());
  EXPECT_EQ(CP_UTF8, GetThreadACP());
  // The plain C locale means "no charset chosen": UTF-8, so that nothing
  // becomes '?'.
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(CP_UTF8, GetACP());
  EXPECT_EQ(CP_UTF8, GetThreadACP());
  if (std::setlocale(LC_ALL, "en_US.ISO-8859-1") != nullptr || std::setlocale(LC_ALL, "en_US") != nullptr) {
    EXPECT_EQ(28591u, GetACP());
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(AnsiCodePages, EveryTableCodePageHasAConverter) {
  const UINT known[] = {65001, 1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  874,   932,   936,
                        949,   950,   437,   850,   852,   866,   20127, 20866, 21866, 20932, 51932, 51949, 54936,
                        28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 10000};
  if (platform::PATH_SEPARATOR == L'/') {
    // posix: the table names a converter for each of these.
    for (UINT cp : known) EXPECT_TRUE(IsValidCodePage(cp)) << cp;
  } else {
    // Windows: Kernel32 decides which code pages exist (Wine lacks a few the
    // table names, 51932 and 54936 among them); whatever it says must agree
    // with what the converters do.
    for (UINT cp : known) {
      wchar_t out[4];
      SetLastError(0);
      const int n = MultiByteToWideChar(cp, 0, "a", 1, out, 4);
      if (IsValidCodePage(cp)) {
        EXPECT_EQ(1, n) << cp;
      } else {
        EXPECT_EQ(0, n) << cp;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError()) << cp;
      }
    }
    EXPECT_TRUE(IsValidCodePage(65001));
    EXPECT_TRUE(IsValidCodePage(1252));
  }
  EXPECT_FALSE(IsValidCodePage(1200));
  EXPECT_FALSE(IsValidCodePage(4242));
}

TEST(Utf8Decoding, LongAsciiRunsMixedWithOtherBytesMatchAByteWiseDecoder) {
  // The decoder takes ASCII eight bytes at a time; runs that end or break
  // at every offset, and destinations cut at every size, must give what a
  // byte-by-byte decoder gives.
  std::mt19937 rng(77);
  const std::vector<std::string> pieces = {"a", "abcdefgh", "0123456789abcdefghij", "\xC3\xA9", "\xE2\x82\xAC",
                                           "\xF0\x9F\x8E\xB5", "\xFF", "\xE2\x82", "\xC3", "\x80"};
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    const int count = static_cast<int>(rng() % 12);
    for (int k = 0; k < count; ++k) bytes += pieces[rng() % pieces.size()];
    const std::wstring expected = FromNativePath(bytes);
    const int needed = MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
    ASSERT_EQ(needed, static_cast<int>(expected.size()) + 1) << round;
    std::vector<wchar_t> out(static_cast<size_t>(needed), L'#');
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, out.data(), needed), needed);
    EXPECT_EQ(std::wstring(out.data()), expected) << round;
    if (needed > 1) {
      SetLastError(0);
      std::vector<wchar_t> small(static_cast<size_t>(needed - 1));
      EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, small.data(), needed - 1), 0);
      EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    }
  }
}

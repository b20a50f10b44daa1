// ConvertBytesToWide, the ANSI converter objects and the buffer functions.
#include "text/CodePageConversion.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "diag/TraceLevels.h"
#include "platform/CodePage.h"
#include "platform/ErrorText.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TraceCapture.h"

TEST(ConvertBytesToWide, DecodesUtf8UpToTheFirstNulByte) {
  CTraceCapture trace;
  std::string body("caf\xC3\xA9\0hidden", 12);
  EXPECT_EQ(std::wstring(L"caf\u00E9"), ConvertBytesToWide(body, CP_UTF8));
  EXPECT_EQ(std::wstring(), ConvertBytesToWide(std::string(), CP_UTF8));
  EXPECT_TRUE(trace.Messages().empty());
}

TEST(ConvertBytesToWide, InvalidUtf8IsReplacedWithoutAMessage) {
  CTraceCapture trace;
  std::wstring expected = {L'a', 0xFFFD, L'b', 0xFFFD, 0xFFFD};
  EXPECT_EQ(expected, ConvertBytesToWide("a\xFF" "b\xED\xA0", CP_UTF8));
  EXPECT_TRUE(trace.Messages().empty());
}

// The page decoder works block by block; it must give exactly what one
// MultiByteToWideChar call over the whole body gives, wherever the blocks
// end: long runs of ill-formed bytes, sequences cut at every offset, four-byte
// characters (surrogate pairs where wide text is UTF-16) and stray
// continuation bytes around the block edges.
TEST(ConvertBytesToWide, Utf8PagesDecodeAsOneWholeConversionDoes) {
  auto whole = [](const std::string& bytes) {
    int needed = platform::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(needed), L'\0');
    platform::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, &out[0], needed);
    out.resize(static_cast<size_t>(needed) - 1);
    return out;
  };
  const std::string pieces[] = {"a", "\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x8E\xB5", "\x80", "\xBF\xBF\xBF\xBF\xBF",
                                "\xF0\x9F\x8E", "\xE6\x97", "\xC3", "\xFF", "\xED\xA0\x80", "<br />", "\xF4\x90\x80\x80"};
  std::mt19937 random(25);
  for (int round = 0; round < 200; ++round) {
    std::string page;
    const size_t size = 1500 + random() % 9000;
    while (page.size() < size) page += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    EXPECT_EQ(ConvertBytesToWide(page, CP_UTF8), whole(page)) << "round " << round;
  }
  // Every cut of a long run of one kind of character across the block edges.
  for (const std::string& piece : {std::string("\xF0\x9F\x8E\xB5"), std::string("\x80"), std::string("\xE6\x97\xA5")}) {
    std::string page;
    while (page.size() < 12000) page += piece;
    for (size_t cut = 0; cut < 8; ++cut) {
      const std::string shifted = std::string(cut, 'x') + page;
      EXPECT_EQ(ConvertBytesToWide(shifted, CP_UTF8), whole(shifted)) << cut;
    }
  }
}

TEST(ConvertBytesToWide, UnknownCodePageLogsTheLengthFailureAndGivesEmptyText) {
  ScopedFakeAnsiCodePage ansi(1252, 1252);
  CTraceCapture trace;
  EXPECT_EQ(std::wstring(), ConvertBytesToWide("abc", 12345));
  EXPECT_EQ(1, trace.Count(L"MultiByteToWideChar (get needed length) failed for string: \"abc\", codePage=12345",
                           TRACE_WARNING));
}

TEST(AnsiConverters, NullSourceGivesNullText) {
  EXPECT_EQ(nullptr, CAnsiToWide(nullptr).Get());
  EXPECT_EQ(nullptr, CWideToAnsi(nullptr).Get());
}

TEST(AnsiConverters, UseTheThreadCodePage) {
  ScopedFakeAnsiCodePage ansi(CP_UTF8, 1252);
  EXPECT_EQ(std::wstring(L"caf\u00E9"), std::wstring(CAnsiToWide("caf\xE9")));
  EXPECT_EQ(std::string("caf\xE9"), std::string(CWideToAnsi(L"caf\u00E9")));
  // A character the code page lacks becomes its default character.
  EXPECT_EQ(std::string("?"), std::string(CWideToAnsi(L"\u0416")));
  ansi.Fake().SetThread(CP_UTF8);
  EXPECT_EQ(std::string("caf\xC3\xA9"), std::string(CWideToAnsi(L"caf\u00E9")));
  std::wstring lone = {static_cast<wchar_t>(0xD800)};
  EXPECT_EQ(std::string("\xEF\xBF\xBD"), std::string(CWideToAnsi(lone.c_str())));
}

TEST(AnsiConverters, TextsOfEveryLengthConvertWhole) {
  // Around the lengths where the converters change how they hold the text.
  ScopedFakeAnsiCodePage ansi(1252, 1252);
  for (size_t n : {0, 1, 31, 32, 33, 127, 128, 129, 200, 5000}) {
    const std::wstring wide(n, L'\u00E9');
    EXPECT_EQ(std::string(n, '\xE9'), std::string(CWideToAnsi(wide.c_str()))) << n;
    const std::string narrow(n, 'a');
    EXPECT_EQ(std::wstring(n, L'a'), std::wstring(CAnsiToWide(narrow.c_str()))) << n;
  }
}

TEST(AnsiConverters, FailureRaisesTheErrorExceptionWithTheWindowsCode) {
  ScopedFakeAnsiCodePage ansi(1252, 4242);  // a code page no converter knows
  try {
    CAnsiToWide wide("abc");
    FAIL() << "no exception";
  } catch (const CConversionException& e) {
    EXPECT_EQ(0x80070057u, e.GetCode());
  }
  std::wstring longText(300, L'x');
  try {
    CWideToAnsi narrow(longText.c_str());
    FAIL() << "no exception";
  } catch (const CConversionException& e) {
    EXPECT_EQ(0x80070057u, e.GetCode());
  }
}

namespace {
// The code of the CConversionException that RaiseConversionError raises for
// `lastError`; fails the test when it raises nothing or something else.
DWORD RaisedCode(DWORD lastError) {
  platform::SetLastError(lastError);
  try {
    RaiseConversionError();
  } catch (const CConversionException& e) {
    return e.GetCode();
  } catch (...) {
    ADD_FAILURE() << "another exception for " << lastError;
    return 0xDEADBEEF;
  }
  ADD_FAILURE() << "no exception for " << lastError;
  return 0xDEADBEEF;
}
}  // namespace

TEST(RaiseConversionError, MapsTheLastErrorOntoTheExceptionKinds) {
  platform::SetLastError(platform::ERROR_OUTOFMEMORY);
  EXPECT_THROW(RaiseConversionError(), std::bad_alloc);
  EXPECT_EQ(0x8007ABCDu, RaisedCode(0x1234ABCD));
  EXPECT_EQ(0u, RaisedCode(0));
  // A value that is negative as a signed 32-bit number is already an HRESULT.
  EXPECT_EQ(0x80004005u, RaisedCode(0x80004005u));
}

TEST(BufferConversions, ToWideBufferZeroFillsAndReportsCharactersWithoutTheTerminator) {
  wchar_t buffer[8];
  std::fill(buffer, buffer + 8, L'x');
  EXPECT_EQ(0, ToWideBuffer("", buffer, 8, CP_UTF8));
  for (wchar_t c : buffer) EXPECT_EQ(L'\0', c);
  EXPECT_EQ(3, ToWideBuffer("abc", buffer, 4, CP_UTF8));
  EXPECT_EQ(std::wstring(L"abc"), std::wstring(buffer));
  EXPECT_EQ(0, ToWideBuffer("abcd", buffer, 4, CP_UTF8));  // no room for the terminator
  EXPECT_EQ(0, ToWideBuffer("abc", buffer, 0, CP_UTF8));
  EXPECT_EQ(0, ToWideBuffer(nullptr, buffer, 8, CP_UTF8));
  EXPECT_EQ(0, ToWideBuffer("abc", nullptr, 8, CP_UTF8));
  EXPECT_EQ(0, GetWideLength(nullptr, CP_UTF8));
  EXPECT_EQ(4, GetWideLength("a\xC3\xA9z", CP_UTF8));
}

TEST(BufferConversions, SystemAnsiFollowsGetAcpOnEveryCall) {
  ScopedFakeAnsiCodePage ansi(1252, CP_UTF8);
  wchar_t buffer[4];
  EXPECT_EQ(1, ToWideBuffer("\xE9", buffer, 4, CODEPAGE_SYSTEM_ANSI));
  EXPECT_EQ(L'\u00E9', buffer[0]);
  ansi.Fake().SetSystem(1251);
  EXPECT_EQ(1, ToWideBuffer("\xE9", buffer, 4, CODEPAGE_SYSTEM_ANSI));
  EXPECT_EQ(L'\u0439', buffer[0]);
  char narrow[4];
  EXPECT_EQ(1, ToNarrowBuffer(L"\u0439", narrow, 4, CODEPAGE_SYSTEM_ANSI, '?'));
  EXPECT_EQ('\xE9', narrow[0]);
  EXPECT_EQ(2, GetNarrowLength(L"\u0439", CODEPAGE_SYSTEM_ANSI));
}

TEST(BufferConversions, ToWideGrowReallocatesOnlyWhenTheTextDoesNotFit) {
  wchar_t borrowed[4];
  CTemplateSmartPtrArray<wchar_t> holder(borrowed, false);
  EXPECT_EQ(3, ToWideGrow("abc", holder, 4, CP_UTF8));  // needs exactly 4
  EXPECT_EQ(borrowed, holder.Get());
  EXPECT_FALSE(holder.IsOwned());

  // One more: a new owned array; the borrowed one is left alone (a sanitizer
  // build would flag an array delete of the stack buffer).
  EXPECT_EQ(4, ToWideGrow("abcd", holder, 4, CP_UTF8));
  EXPECT_NE(borrowed, holder.Get());
  EXPECT_TRUE(holder.IsOwned());
  EXPECT_EQ(std::wstring(L"abcd"), std::wstring(holder.Get()));

  // A larger one replaces (and releases) the owned array.
  EXPECT_EQ(9, ToWideGrow("123456789", holder, 5, CP_UTF8));
  EXPECT_EQ(std::wstring(L"123456789"), std::wstring(holder.Get()));
}

TEST(BufferConversions, NarrowSideUsesTheDefaultCharacterExceptForUtf8) {
  char buffer[8];
  EXPECT_EQ(3, ToNarrowBuffer(L"a\u0416b", buffer, 8, 1252, '*'));
  EXPECT_EQ(std::string("a*b"), std::string(buffer));
  EXPECT_EQ(4, ToNarrowBuffer(L"a\u0416b", buffer, 8, CP_UTF8, '*'));
  EXPECT_EQ(std::string("a\xD0\x96" "b"), std::string(buffer));
  EXPECT_EQ(0, ToNarrowBuffer(L"abc", buffer, 0, CP_UTF8, '*'));
  EXPECT_EQ(0, ToNarrowBuffer(L"abc", buffer, 3, CP_UTF8, '*'));

  char borrowed[2];
  CTemplateSmartPtrArray<char> holder(borrowed, false);
  EXPECT_EQ(5, ToNarrowGrow(L"h\u00E9llo", holder, 2, 1252, '?'));
  EXPECT_TRUE(holder.IsOwned());
  EXPECT_EQ(std::string("h\xE9llo"), std::string(holder.Get()));
  EXPECT_EQ(0, ToNarrowGrow(L"x", holder, 2, 4242, '?'));
}

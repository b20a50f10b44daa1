// DecodeHtmlEntities: the table, worked examples, bad references, and a
// differential test against the literal row-by-row / restart-from-the-start
// procedure (text/EntityOracle.h).
#include "text/HtmlEntities.h"

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/CodePage.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TraceCapture.h"
#include "text/CodePageConversion.h"
#include "text/EntityOracle.h"

namespace {

class HtmlEntitiesTest : public ::testing::Test {
 protected:
  ScopedFakeAnsiCodePage m_ansi{65001, 65001};
  CTraceCapture m_trace;

  static std::wstring Decode(std::wstring s) {
    DecodeHtmlEntities(s);
    return s;
  }
};

}  // namespace

TEST(NamedEntityTableTest, EveryNameAndCodeInReplacementOrder) {
  for (size_t i = 0; i < entity_oracle::EXPECTED_ROW_COUNT; ++i) {
    ASSERT_NE(nullptr, NamedEntityTable[i].pszName) << "the table ends early, at row " << i;
    EXPECT_STREQ(entity_oracle::kExpectedRows[i].pszName, NamedEntityTable[i].pszName) << "row " << i;
    EXPECT_EQ(entity_oracle::kExpectedRows[i].nCode, NamedEntityTable[i].nCode) << "row " << i << " " << entity_oracle::kExpectedRows[i].pszName;
  }
  EXPECT_EQ(nullptr, NamedEntityTable[entity_oracle::EXPECTED_ROW_COUNT].pszName) << "the table has more than 253 rows";
}

TEST_F(HtmlEntitiesTest, EveryNamedReferenceDecodesThroughThePublicCall) {
  // Each reference alone, and all of them in one text between markers.
  std::wstring all, expected;
  for (const entity_oracle::SExpectedRow& row : entity_oracle::kExpectedRows) {
    const std::wstring name(row.pszName, row.pszName + std::strlen(row.pszName));
    EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(row.nCode)), Decode(name)) << row.pszName;
    all += L"|" + name;
    expected += L"|" + std::wstring(1, static_cast<wchar_t>(row.nCode));
  }
  EXPECT_EQ(expected, Decode(all));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, NamedReferencesDecodeOnce) {
  EXPECT_EQ(L"Tom & Jerry", Decode(L"Tom &amp; Jerry"));
  EXPECT_EQ(L"&lt;", Decode(L"&amp;lt;"));
  EXPECT_EQ(L"a b", Decode(L"a&nbsp;b"));
  EXPECT_EQ(L"\u00C9\u00E9&EACUTE;", Decode(L"&Eacute;&eacute;&EACUTE;"));
  EXPECT_EQ(L"'\u20AC\u03D1\u2665", Decode(L"&apos;&euro;&thetasym;&hearts;"));
  EXPECT_EQ(L"&AMP; &amp &unknown; &;", Decode(L"&AMP; &amp &unknown; &;"));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, NumericReferencesDecodeAllOccurrences) {
  EXPECT_EQ(L"'", Decode(L"&#39;"));
  EXPECT_EQ(L"'", Decode(L"&#039;"));
  EXPECT_EQ(L"x'y'z", Decode(L"x&#39;y&#39;z"));
  EXPECT_EQ(L"A", Decode(L"&#0065;"));
  EXPECT_EQ(L"&#x41;", Decode(L"&#x41;"));
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xD800)), Decode(L"&#55296;"));
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xFFFF)), Decode(L"&#65535;"));
  EXPECT_EQ(L"&#65 &#; &#-1;", Decode(L"&#65 &#; &#-1;"));
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(HtmlEntitiesTest, ReferencesMadeByDecodingAreDecodedToo) {
  EXPECT_EQ(L"\u00E9", Decode(L"&amp;#233;"));
  EXPECT_EQ(L"<", Decode(L"&#38;#60;"));
  EXPECT_EQ(L"<", Decode(L"&#38;#38;#60;"));
  EXPECT_EQ(L"\x0C", Decode(L"&#1&#50;;"));      // a decoded digit joins a reference
  EXPECT_EQ(L"A", Decode(L"&#38;&#35;65;"));     // "&" and "#" made by two references
  EXPECT_EQ(L"A", Decode(L"&#&#54;&#53;&#59;"));  // digits and ";" made one by one
}

TEST_F(HtmlEntitiesTest, BadReferencesStayAndAreReportedOncePerOccurrence) {
  EXPECT_EQ(L"&#0; A &#70000; &#0;", Decode(L"&#0; &#65; &#70000; &#0;"));
  std::vector<std::wstring> expected = {
      L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"&#0; &#65; &#70000; &#0;\"",
      L"Bad &#nnn; code: \"&#70000;\" => 70000 ; string is:\n\t\"&#0; A &#70000; &#0;\"",
      L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"&#0; A &#70000; &#0;\"",
  };
  EXPECT_EQ(expected, m_trace.Messages());
}

TEST_F(HtmlEntitiesTest, NumbersBeyond32BitsStayAndAreReported) {
  EXPECT_EQ(L"x&#99999999999;", Decode(L"x&#99999999999;"));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#99999999999;\" => 2147483647 ; string is:\n\t\"x&#99999999999;\"",
                             TRACE_ERROR));
  EXPECT_EQ(L"&#2147483648;", Decode(L"&#2147483648;"));
  EXPECT_EQ(L"&#4294967361;", Decode(L"&#4294967361;"));  // 2^32 + 65 must not wrap to 'A'
}

TEST_F(HtmlEntitiesTest, ReportQuotesTheStringWithLaterOccurrencesAlreadyReplaced) {
  // The procedure has replaced every "&#50;" before it reaches "&#0;", which
  // joins "&#1" and "2;" further right.
  EXPECT_EQ(L"2&#0;\x0C", Decode(L"&#50;&#0;&#1&#50;;"));
  ASSERT_EQ(1u, m_trace.Messages().size());
  EXPECT_EQ(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"2&#0;&#12;\"", m_trace.Messages()[0]);
}

TEST_F(HtmlEntitiesTest, EmptyStringIsReportedByTheNumericPass) {
  EXPECT_EQ(L"", Decode(L""));
  EXPECT_EQ(1, m_trace.Count(L"Input string is empty", TRACE_WARNING));
  CString text;
  DecodeHtmlEntities(text);
  EXPECT_EQ(2, m_trace.Count(L"Input string is empty", TRACE_WARNING));
  CString lyrics(L"Caf&eacute; &#38; cr&egrave;me");
  DecodeHtmlEntities(lyrics);
  EXPECT_EQ(CString(L"Caf\u00E9 & cr\u00E8me"), lyrics);
}

TEST_F(HtmlEntitiesTest, TheTwentyFirstBadReferenceInOneCallIsNotReportedInFull) {
  // Twenty bad references are each reported in full; from the 21st on one
  // closing line counts the rest.
  const std::wstring twenty = Decode([] {
    std::wstring t;
    for (int i = 0; i < 20; ++i) t += L"&#0;";
    return t;
  }());
  EXPECT_EQ(20, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"" + twenty + L"\"", TRACE_ERROR));
  EXPECT_EQ(20u, m_trace.Messages().size());

  std::wstring text;
  for (int i = 0; i < 25; ++i) text += L"&#0;";
  const std::wstring expected = text;
  EXPECT_EQ(expected, Decode(text));
  EXPECT_EQ(20, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"" + expected + L"\"", TRACE_ERROR));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: 5 more references left unchanged and not reported", TRACE_ERROR));
  EXPECT_EQ(20u + 21u, m_trace.Messages().size());
}

TEST_F(HtmlEntitiesTest, LongTextIsQuotedAsABoundedExcerptAroundTheReference) {
  // Up to the limit the whole string is quoted, as before.
  const std::wstring upTo = std::wstring(98, L'a') + L"&#0;" + std::wstring(98, L'b');
  ASSERT_EQ(200u, upTo.size());
  Decode(upTo);
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"" + upTo + L"\"", TRACE_ERROR));

  // Beyond it: 100 characters on each side, "..." where cut, and the length.
  // The string is the one the procedure has at that moment: the reference
  // decoded before the bad one is decoded after it as well.
  std::wstring text = std::wstring(150, L'a') + L"&#66;&#0;&#66;" + std::wstring(2000000, L'b');
  EXPECT_EQ(std::wstring(150, L'a') + L"B&#0;B" + std::wstring(2000000, L'b'), Decode(text));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"..." + std::wstring(99, L'a') +
                                 L"B&#0;B" + std::wstring(99, L'b') + L"...\" (excerpt of a text of 2000164 characters)",
                             TRACE_ERROR));

  // A reference near the start is not cut in front; one near the end not
  // behind.
  const std::wstring edges = L"&#70000;" + std::wstring(300, L'c') + L"&#0;";
  Decode(edges);
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#70000;\" => 70000 ; string is:\n\t\"&#70000;" +
                                 std::wstring(100, L'c') + L"...\" (excerpt of a text of 312 characters)",
                             TRACE_ERROR));
  EXPECT_EQ(1, m_trace.Count(L"Bad &#nnn; code: \"&#0;\" => 0 ; string is:\n\t\"..." + std::wstring(100, L'c') +
                                 L"&#0;\" (excerpt of a text of 312 characters)",
                             TRACE_ERROR));
}

namespace {

// Counts the look-ups of the thread's ANSI code page: composing a report
// narrows text with it, nothing else in the decoding does.
class CCountingAnsiCodePage : public platform::IAnsiCodePageSource {
 public:
  UINT GetACP() override { return 65001; }
  UINT GetThreadACP() override {
    ++m_nThreadLookups;
    return 65001;
  }
  int m_nThreadLookups = 0;
};

std::wstring TextWithBadReferences() {
  std::wstring text;
  for (int i = 0; i < 25; ++i) text += L"&#0;";
  return text + std::wstring(1000, L'x') + L"&#65;";
}

}  // namespace

TEST(HtmlEntitiesReportTest, NoReportIsComposedWhenTheTraceLogWouldDropIt) {
  CCountingAnsiCodePage counter;
  platform::IAnsiCodePageSource* previous = platform::SetAnsiCodePageSourceForTesting(&counter);
  const std::wstring expected = TextWithBadReferences().substr(0, 25 * 4 + 1000) + L"A";
  {
    ASSERT_FALSE(g_TraceLog.IsOpen());
    std::wstring text = TextWithBadReferences();
    DecodeHtmlEntities(text);  // log closed
    EXPECT_EQ(expected, text);
    EXPECT_EQ(0, counter.m_nThreadLookups);
  }
  {
    CTraceCapture trace(0);  // open, but every level is dropped
    std::wstring text = TextWithBadReferences();
    DecodeHtmlEntities(text);
    EXPECT_EQ(expected, text);
    EXPECT_EQ(0, counter.m_nThreadLookups);
  }
  {
    CTraceCapture trace(TRACE_ERROR);
    std::wstring text = TextWithBadReferences();
    DecodeHtmlEntities(text);
    EXPECT_EQ(expected, text);
    EXPECT_GT(counter.m_nThreadLookups, 0);
    EXPECT_EQ(21, static_cast<int>(trace.Messages().size()));  // twenty reports and the closing count
  }
  platform::SetAnsiCodePageSourceForTesting(previous);
}

TEST_F(HtmlEntitiesTest, LongChainsOfNestedReferencesFinish) {
  std::wstring text = L"&#38;";
  for (int i = 0; i < 100000; ++i) text += L"#38;";
  text += L"#60;";
  EXPECT_EQ(L"<", Decode(text));
  std::wstring amps;
  for (int i = 0; i < 100000; ++i) amps += L"&amp;";
  EXPECT_EQ(std::wstring(100000, L'&'), Decode(amps));
}

TEST_F(HtmlEntitiesTest, MatchesTheLiteralProcedureOnGeneratedText) {
  const std::vector<std::wstring> tokens = {
      // plain text and loose pieces of references
      L"a", L"Zz", L" ", L";", L"#", L"1", L"9", L"0", L"&", L"&#", L"amp;", L"lt", L"\u00E9",
      // named
      L"&amp;", L"&lt;", L"&gt;", L"&quot;", L"&nbsp;", L"&eacute;", L"&euro;", L"&AMP;", L"&amp", L"&apos;",
      // numeric, valid (some produce "&", "#", ";" and digits)
      L"&#65;", L"&#0065;", L"&#38;", L"&#038;", L"&#35;", L"&#59;", L"&#49;", L"&#50;", L"&#48;", L"&#233;",
      L"&#55296;", L"&#65535;", L"&#12;",
      // bad
      L"&#0;", L"&#00;", L"&#70000;", L"&#65536;", L"&#99999999999;",
      // nested
      L"&amp;#38;", L"&#38;#60;", L"&#38;#38;#51;", L"&amp;#0;", L"&#38;#0;", L"&amp;amp;",
      // unterminated or not decimal
      L"&#65", L"&#x41;", L"&#;", L"&#-1;",
      // a reference interrupted by another whose decoded character continues it
      L"&#3", L"&&#35;", L"&#&#52;", L"&#5&#57;", L"&#38;&#35;&#52;",
  };
  std::mt19937 random(20240131);
  std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
  std::vector<std::wstring> expectedMessages;
  int withReports = 0;
  int withExcerpts = 0;
  for (int round = 0; round < 4000; ++round) {
    // Every fourth text is long enough to be quoted as an excerpt.
    std::uniform_int_distribution<int> length(0, round % 4 == 0 ? 90 : 24);
    std::wstring input;
    for (int n = length(random); n > 0; --n) input += tokens[pick(random)];
    std::wstring expected = input;
    std::vector<std::wstring> messages = entity_oracle::OracleDecode(expected);
    if (messages.size() > 20) continue;  // beyond the report limit: checked above
    if (!messages.empty() && messages[0] != L"Input string is empty") ++withReports;
    if (!messages.empty() && messages[0].find(L"(excerpt of a text of ") != std::wstring::npos) ++withExcerpts;
    std::wstring actual = input;
    DecodeHtmlEntities(actual);
    ASSERT_EQ(expected, actual) << "input: " << std::string(CWideToAnsi(input.c_str()).Get());
    expectedMessages.insert(expectedMessages.end(), messages.begin(), messages.end());
  }
  EXPECT_GT(withReports, 100);  // the generator does exercise the reports
  EXPECT_GT(withExcerpts, 50);  // ... and the excerpts
  std::vector<std::wstring> actualMessages = m_trace.Messages();
  ASSERT_EQ(expectedMessages.size(), actualMessages.size());
  for (size_t i = 0; i < expectedMessages.size(); ++i) ASSERT_EQ(expectedMessages[i], actualMessages[i]) << i;
}

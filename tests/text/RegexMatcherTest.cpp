// CRegexMatcher: iteration, states and the failure messages.
#include "text/RegexMatcher.h"

#include <string>

#include <gtest/gtest.h>

#include "diag/TraceLevels.h"
#include "support/FakeAnsiCodePage.h"
#include "support/TraceCapture.h"

namespace {

// Messages are composed in the thread's ANSI code page; fix it to UTF-8 so
// the tests do not depend on the machine's locale.
class RegexMatcherTest : public ::testing::Test {
 protected:
  ScopedFakeAnsiCodePage m_ansi{65001, 65001};
  CTraceCapture m_trace;
};

}  // namespace

TEST_F(RegexMatcherTest, IteratesMatchesAndTheirGroups) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.InitAndFindNext(L"x&#65;y&#66;", L"&#([0-9]+);", true));
  std::wstring g0, g1;
  EXPECT_EQ(2u, matcher.GetMatchCount());
  ASSERT_TRUE(matcher.GetMatch(0, g0));
  ASSERT_TRUE(matcher.GetMatch(1, g1));
  EXPECT_EQ(L"&#65;", g0);
  EXPECT_EQ(L"65", g1);
  ASSERT_TRUE(matcher.FindNext());
  matcher.GetMatch(0, g0);
  matcher.GetMatch(1, g1);
  EXPECT_EQ(L"&#66;", g0);
  EXPECT_EQ(L"66", g1);
  EXPECT_FALSE(matcher.FindNext());
  EXPECT_FALSE(matcher.FindNext());  // exhausted stays exhausted
  EXPECT_TRUE(m_trace.Messages().empty());
}

TEST_F(RegexMatcherTest, LaterSearchesDoNotTreatTheirStartAsTheBeginning) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.Init(L"abab", L"^ab", true));
  EXPECT_TRUE(matcher.FindNext());
  EXPECT_FALSE(matcher.FindNext());
  ASSERT_TRUE(matcher.Init(L"ab ab", L"\\bab", true));
  EXPECT_TRUE(matcher.FindNext());
  EXPECT_TRUE(matcher.FindNext());
  ASSERT_TRUE(matcher.Init(L"aab", L"\\bab", true));  // the 'a' before is seen
  EXPECT_FALSE(matcher.FindNext());
}

TEST_F(RegexMatcherTest, CaseInsensitiveWhenAsked) {
  CRegexMatcher matcher;
  EXPECT_FALSE(matcher.InitAndFindNext(L"ABC", L"b", true));
  EXPECT_TRUE(matcher.InitAndFindNext(L"ABC", L"b", false));
}

TEST_F(RegexMatcherTest, UnmatchedGroupGivesEmptyText) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.InitAndFindNext(L"ac", L"a(b)?c", true));
  std::wstring group = L"unchanged";
  EXPECT_TRUE(matcher.GetMatch(1, group));
  EXPECT_EQ(L"", group);
}

TEST_F(RegexMatcherTest, CopiesTheInput) {
  std::wstring input = L"<a>1</a><a>2</a>";
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.InitAndFindNext(input.c_str(), L"<a>([0-9])</a>", true));
  input.assign(L"garbage that is much longer than before");
  ASSERT_TRUE(matcher.FindNext());
  CString group;
  ASSERT_TRUE(matcher.GetMatch(1, group));
  EXPECT_EQ(CString(L"2"), group);
}

TEST_F(RegexMatcherTest, EmptyMatchesAdvanceInsteadOfRepeating) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.Init(L"ab", L"x*", true));
  int found = 0;
  while (matcher.FindNext() && found < 10) ++found;
  EXPECT_EQ(3, found);  // before 'a', before 'b', at the end
}

TEST_F(RegexMatcherTest, NotInitializedStates) {
  CRegexMatcher fresh;
  EXPECT_FALSE(fresh.FindNext());
  EXPECT_EQ(0u, fresh.GetMatchCount());

  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.InitAndFindNext(L"abc", L"b", true));
  EXPECT_FALSE(matcher.Init(L"", L"b", true));
  EXPECT_FALSE(matcher.FindNext());
  EXPECT_EQ(0u, matcher.GetMatchCount());  // results of the old input are gone
  EXPECT_FALSE(matcher.Init(nullptr, L"b", true));

  EXPECT_EQ(2, m_trace.Count(L"NOT initialized (string to match is empty)", TRACE_ERROR));
  EXPECT_EQ(2, m_trace.Count(L"Input string is empty", TRACE_WARNING));
}

TEST_F(RegexMatcherTest, PatternThatDoesNotCompileIsReportedAndDropsTheInput) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.Init(L"abc", L"b", true));
  EXPECT_FALSE(matcher.Init(L"abc", L"a(b", true));
  EXPECT_TRUE(m_trace.Contains(
      L"Invalid Regex: a(b\n\t=> caught bad_expression exception: what=Unmatched marking parenthesis"));
  EXPECT_FALSE(matcher.FindNext());
  EXPECT_EQ(1, m_trace.Count(L"NOT initialized (string to match is empty)", TRACE_ERROR));
}

TEST_F(RegexMatcherTest, PatternIsQuotedInTheThreadCodePage) {
  m_ansi.Fake().SetThread(1252);
  CRegexMatcher matcher;
  EXPECT_FALSE(matcher.Init(L"abc", L"\u00E9\u0416(", true));
  // U+0416 has no place in code page 1252 and comes back as '?'.
  EXPECT_TRUE(m_trace.Contains(L"Invalid Regex: \u00E9?(\n\t=> caught bad_expression exception: what="));
}

TEST_F(RegexMatcherTest, ComplexityLimitIsCaughtAndQuotesFiftyUnits) {
  std::wstring input(200, L'a');
  input += L"!";
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.Init(input.c_str(), L"(a+a+)+b", true));
  EXPECT_FALSE(matcher.FindNext());
  EXPECT_TRUE(m_trace.Contains(L"String too complex for regexp matching: " + std::wstring(50, L'a') +
                               L"...\n\t=> caught runtime_error: what=The complexity of matching"));
  // Short input: still followed by "...".
  ASSERT_TRUE(matcher.Init(L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaa!", L"(a+a+)+b", true));
  EXPECT_FALSE(matcher.FindNext());
  EXPECT_TRUE(m_trace.Contains(L"String too complex for regexp matching: aaaaaaaaaaaaaaaaaaaaaaaaaaaaa!...\n\t"));
}

TEST_F(RegexMatcherTest, GroupIndexOutOfBoundsIsReported) {
  CRegexMatcher matcher;
  ASSERT_TRUE(matcher.InitAndFindNext(L"ab", L"(a)(b)", true));
  std::wstring text = L"unchanged";
  EXPECT_FALSE(matcher.GetMatch(3, text));
  EXPECT_EQ(L"unchanged", text);
  EXPECT_EQ(1, m_trace.Count(L"Match index out of bounds: 3 >= 3", TRACE_ERROR));
  EXPECT_FALSE(matcher.GetMatch(0xFFFFFFFFu, text));
  EXPECT_EQ(1, m_trace.Count(L"Match index out of bounds: 4294967295 >= 3", TRACE_ERROR));
}

TEST_F(RegexMatcherTest, InputAndPatternEndAtTheirFirstNul) {
  CRegexMatcher matcher;
  std::wstring input(L"ab\0cd", 5);
  std::wstring pattern(L"c\0x", 3);
  EXPECT_FALSE(matcher.InitAndFindNext(input, L"c", true));
  EXPECT_TRUE(matcher.InitAndFindNext(L"abc", pattern, true));
}

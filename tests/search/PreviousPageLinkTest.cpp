// The one-pass search for the "previous 200" link against the regex matcher
// running the same pattern over the whole text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/PreviousPageLink.h"
#include "text/RegexMatcher.h"

namespace {

// The oracle: the pattern over the whole text, as the regex engine sees it.
bool RegexPreviousPageLink(const std::wstring& page, std::wstring& link) {
  CRegexMatcher matcher;
  return matcher.InitAndFindNext(page, PREVIOUS_PAGE_PATTERN, true) && matcher.GetMatch(1, link);
}

}  // namespace

TEST(PreviousPageLink, FindsTheIndexNavigationLink) {
  const std::wstring page =
      L"<h2>Pages</h2>\n(<a href=\"/index.php?title=Category:Artists_Q&amp;until=Quill+Anchors\" "
      L"title=\"Category:Artists_Q\">previous 200</a>) (<a href=\"/next\">next 200</a>)\n<ul><li>...</li></ul>";
  std::wstring link = L"unchanged";
  ASSERT_TRUE(FindPreviousPageLink(page, link));
  EXPECT_EQ(link, L"/index.php?title=Category:Artists_Q&amp;until=Quill+Anchors");

  std::wstring none = L"unchanged";
  EXPECT_FALSE(FindPreviousPageLink(L"(previous 200) (next 200)", none));
  EXPECT_FALSE(FindPreviousPageLink(L"<a href=\"\">previous 200</a>", none));      // empty link
  EXPECT_FALSE(FindPreviousPageLink(L"<a href=\"/x\" b>c>previous 200</a>", none));  // a '>' before the label
  EXPECT_FALSE(FindPreviousPageLink(L"", none));
  EXPECT_EQ(none, L"unchanged");
  // Quotes after the link and a '>' inside the link are both allowed.
  ASSERT_TRUE(FindPreviousPageLink(L"<a href=\"/a>b\" title=\"t\" x=\"y\">previous 200</a>", link));
  EXPECT_EQ(link, L"/a>b");
}

TEST(PreviousPageLink, AgreesWithRegexOnGeneratedTexts) {
  const std::vector<std::wstring> pieces = {
      L"<a href=\"", L"\"", L">", L">previous 200</a>", L"previous 200</a>", L"x", L"/p", L" t=\"", L"<a href=\"\"",
      L"<a", L" href=\"", L"<", L"</a>", L"a>", L"\">previous 200</a>",
  };
  std::mt19937 rng(7u);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> len(1, 24);
  int found = 0;
  for (int round = 0; round < 30000; ++round) {
    std::wstring text;
    for (int n = len(rng); n > 0; --n) text += pieces[pick(rng)];
    std::wstring fast = L"-", slow = L"-";
    const bool fastFound = FindPreviousPageLink(text, fast);
    const bool slowFound = RegexPreviousPageLink(text, slow);
    ASSERT_EQ(fastFound, slowFound) << std::string(text.begin(), text.end());
    ASSERT_EQ(fast, slow) << std::string(text.begin(), text.end());
    if (slowFound) {
      ++found;
      // The located stretch is exactly the regex's whole match.
      size_t begin = 0, end = 0;
      ASSERT_TRUE(LocatePreviousPageLink(text, begin, end));
      CRegexMatcher matcher;
      std::wstring whole;
      ASSERT_TRUE(matcher.InitAndFindNext(text, PREVIOUS_PAGE_PATTERN, true) && matcher.GetMatch(0, whole));
      ASSERT_EQ(text.substr(begin, end - begin), whole);
    }
  }
  EXPECT_GT(found, 1000);  // the generator reaches both outcomes
}

TEST(PreviousPageLink, ManyUnclosedOpeningsStayLinear) {
  std::wstring page;
  for (int i = 0; i < 200000; ++i) page += L"<a href=\"x\" ";
  std::wstring link;
  // Without the label nothing matches; the regex alone would take seconds.
  EXPECT_FALSE(FindPreviousPageLink(page, link));
  page += L">previous 200</a>";
  ASSERT_TRUE(FindPreviousPageLink(page, link));
  EXPECT_EQ(link, L"x");
  size_t begin = 1, end = 0;
  ASSERT_TRUE(LocatePreviousPageLink(page, begin, end));
  EXPECT_EQ(begin, 0u);
  EXPECT_EQ(end, page.size());
}

TEST(PreviousPageLink, RealLinkAfterAHostileStretchOfUnclosedLinksIsFound) {
  // List items whose links are never closed: either the tag lacks its '>'
  // (quotes balanced) or the quote itself is left open. Each "<li>" ends
  // whatever start was pending.
  auto unclosedTags = [](int items) {
    std::wstring text;
    for (int i = 0; i < items; ++i) text += L"<li><a href=\"/wiki/Junk_" + std::to_wstring(i % 10) + L"\" title=x ";
    return text;
  };
  auto unclosedQuotes = [](int items) {
    std::wstring text;
    for (int i = 0; i < items; ++i) text += L"<li><a href=\"/wiki/Junk_" + std::to_wstring(i % 10) + L" title=x ";
    return text;
  };
  const std::wstring real =
      L"</ul>\n<div class=\"pages\">(<a href=\"/index.php?title=Category:Artists_Q&amp;until=Quill+Anchors\" "
      L"title=\"Category:Artists_Q\">previous 200</a>)</div>";
  const std::wstring realLink = L"/index.php?title=Category:Artists_Q&amp;until=Quill+Anchors";

  // Short enough for the regex over the whole text to agree.
  for (const std::wstring& page : {unclosedTags(40) + real, unclosedQuotes(40) + real, unclosedQuotes(41) + real}) {
    std::wstring fromRegex, link;
    ASSERT_TRUE(RegexPreviousPageLink(page, fromRegex));
    ASSERT_TRUE(FindPreviousPageLink(page, link));
    EXPECT_EQ(link, fromRegex);
    EXPECT_EQ(link, realLink);
  }
  // Without the quoted attribute in between, the open quotes pair with each
  // other and with the link's own, and the pattern itself matches from an
  // earlier opening whose link runs over the "<li>" that follows it.
  const std::wstring swallowed = unclosedQuotes(3) + L"(<a href=\"/real\">previous 200</a>)";
  std::wstring link, fromRegex;
  ASSERT_TRUE(RegexPreviousPageLink(swallowed, fromRegex));
  ASSERT_TRUE(FindPreviousPageLink(swallowed, link));
  EXPECT_EQ(link, fromRegex);
  EXPECT_EQ(link, L"/wiki/Junk_1 title=x <li><a href=");

  // Long (millions of characters), where a search that restarts at every
  // opening would take quadratic time.
  for (const std::wstring& page : {unclosedTags(200000) + real, unclosedQuotes(200000) + real}) {
    link.clear();
    ASSERT_TRUE(FindPreviousPageLink(page, link));
    EXPECT_EQ(link, realLink);
    size_t begin = 0, end = 0;
    ASSERT_TRUE(LocatePreviousPageLink(page, begin, end));
    EXPECT_EQ(page.substr(begin, 9), L"<a href=\"");
    EXPECT_EQ(page.substr(end), L")</div>");
  }
}

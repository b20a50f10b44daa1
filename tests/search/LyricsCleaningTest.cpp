// The cleaning steps of the lyrics page: worked examples, the not-licensed
// notice, and differential tests of the linear implementations against the
// literal rules in LyricsOracle.h.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "search/LyricsPage.h"
#include "search/LyricsOracle.h"

namespace {

// Makes CR and LF visible in failure messages.
std::string Show(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\r')
      out += "\\r";
    else if (c == L'\n')
      out += "\\n";
    else if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += "?";
  }
  return out;
}

std::wstring Clean(std::wstring text) {
  NormalizeBreakTags(text);
  StripTags(text);
  return text;
}

std::wstring OracleClean(std::wstring text) {
  oracle::NormalizeBreakTags(text);
  oracle::StripTags(text);
  return text;
}

}  // namespace

TEST(LyricsCleaning, BreakTagsBecomeSingleLineBreaks) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"a<br />b", L"a\r\nb"},
      {L"a<BR>b<br/>c", L"a\r\nb\r\nc"},
      {L"a<br />\nb", L"a\r\nb"},
      {L"a\n<br />b", L"a\r\nb"},
      {L"a<br /><br />b", L"a\r\nb"},
      {L"a<br>b<br>c<br>", L"a\r\nb\r\nc\r\n"},
      {L"<br>a", L"\r\na"},
      {L"a<Br>b", L"ab"},        // not a break tag: stripped as markup
      {L"a<br >b", L"ab"},       // nor is this
      {L"a<br />\r\n<br />\r\nb", L"a\r\n\r\nb"},
      {L"a<br />\n<br />\nb", L"a\r\nb"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(Clean(c.in)), Show(c.out)) << "input " << Show(c.in);
}

TEST(LyricsCleaning, LineBreakRunsFoldToCrLf) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"a\r\n\r\nb", L"a\r\n\r\nb"},  // the one way to keep a blank line
      {L"a\n\nb", L"a\r\nb"},         {L"a\r\rb", L"a\r\nb"},
      {L"a\n\rb", L"a\r\nb"},         {L"a\r\n\nb", L"a\r\nb"},
      {L"a\n\n\nb", L"a\r\nb"},       {L"a\n\n\n\nb", L"a\r\n\r\nb"},
      {L"a\nb\rc", L"a\r\nb\r\nc"},   {L"\n", L"\r\n"},
      {L"", L""},                     {L"plain", L"plain"},
  };
  for (const auto& c : cases) {
    std::wstring text = c.in;
    NormalizeLineBreaks(text);
    EXPECT_EQ(Show(text), Show(c.out)) << "input " << Show(c.in);
  }
}

TEST(LyricsCleaning, LiteralMarkerTextCountsAsLineBreak) {
  std::wstring text = L"a<sbrNewline>b\n<sbrNewline>c";
  NormalizeLineBreaks(text);
  EXPECT_EQ(Show(text), Show(L"a\r\nb\r\nc"));
}

TEST(LyricsCleaning, StripTagsRemovesMarkupAndKeepsUnclosedLessThan) {
  EXPECT_EQ(Show(Clean(L"a<i>b</i>c")), "abc");
  EXPECT_EQ(Show(Clean(L"a < b")), "a < b");
  EXPECT_EQ(Show(Clean(L"x<a href=\"y\">z</a> 1 < 2")), "xz 1 < 2");
  EXPECT_EQ(Show(Clean(L"1 < 2 <b>3</b>")), "1 3");  // a '<' takes everything up to the next '>'
  EXPECT_EQ(Show(Clean(L"1 > 0 &lt;ok&gt;")), "1 > 0 &lt;ok&gt;");  // references are decoded later
  EXPECT_EQ(Show(Clean(L"<<>>")), ">");
}

TEST(LyricsCleaning, ExtractLyricsBoxCutsBetweenFirstDivEndAndComment) {
  std::wstring page = L"<p><div class='lyricbox'><div>ad</div>Line one<br />Two<!-- end --><!-- x -->";
  ASSERT_TRUE(ExtractLyricsBox(page));
  EXPECT_EQ(Show(page), "Line one<br />Two");

  std::wstring adjacent = L"<div class='lyricbox'</div><!--";
  ASSERT_TRUE(ExtractLyricsBox(adjacent));
  EXPECT_EQ(adjacent, L"");

  // A comment before the "</div>" does not end the lyrics.
  std::wstring early = L"<div class='lyricbox'><!-- a --></div>text<!--";
  ASSERT_TRUE(ExtractLyricsBox(early));
  EXPECT_EQ(early, L"text");

  // Only the whole comment opener ends the lyrics; near misses are text.
  std::wstring nearMiss = L"<div class='lyricbox'></div>a <!- b <! c < !-- d <!--e";
  ASSERT_TRUE(ExtractLyricsBox(nearMiss));
  EXPECT_EQ(nearMiss, L"a <!- b <! c < !-- d ");

  const wchar_t* failing[] = {
      L"no box here</div>x<!--",
      L"<div class=\"lyricbox\"></div>x<!--",  // double quotes are not the box
      L"<div class='lyricbox'>text without end",
      L"<div class='lyricbox'></div>text without comment",
      L"</div><!--<div class='lyricbox'>",
  };
  for (const wchar_t* f : failing) {
    std::wstring text = f;
    EXPECT_FALSE(ExtractLyricsBox(text)) << Show(f);
    EXPECT_EQ(text, f);
  }
}

TEST(LyricsCleaning, NoticeIsTheSentenceAsDecimalReferences) {
  const std::wstring notice = LyricsNotLicensedNotice;
  EXPECT_EQ(notice.size(), 511u);
  EXPECT_EQ(notice.rfind(L"&#85;&#110;&#102;&#111;&#114;", 0), 0u);
  std::wstring decoded;
  size_t pos = 0;
  while (pos < notice.size()) {
    ASSERT_EQ(notice.compare(pos, 2, L"&#"), 0) << pos;
    const size_t end = notice.find(L';', pos);
    ASSERT_NE(end, std::wstring::npos);
    decoded += static_cast<wchar_t>(std::stoi(notice.substr(pos + 2, end - pos - 2)));
    pos = end + 1;
  }
  EXPECT_EQ(decoded, L"Unfortunately, we are not licensed to display the full lyrics for this song at the moment");
}

TEST(LyricsCleaning, PageLevelRefusals) {
  CString lyrics = L"stale";
  const std::wstring box = L"<div class='lyricbox'><div></div>";
  EXPECT_TRUE(ExtractLyricsFromPage(box + L"\r\n  Hi &amp; bye<br/>&lt;3 \n<!--", lyrics));
  EXPECT_EQ(Show(lyrics.Str()), Show(L"Hi & bye\r\n<3"));

  EXPECT_FALSE(ExtractLyricsFromPage(box + L"<br><br /><BR>  \n<!--", lyrics));  // only breaks
  EXPECT_TRUE(lyrics.IsEmpty());
  lyrics = L"stale";
  EXPECT_FALSE(ExtractLyricsFromPage(box + L"words", lyrics));  // no comment after the box
  EXPECT_TRUE(lyrics.IsEmpty());
  lyrics = L"stale";
  EXPECT_FALSE(ExtractLyricsFromPage(box + L"words<!--" + LyricsNotLicensedNotice, lyrics));
  EXPECT_TRUE(lyrics.IsEmpty());
  EXPECT_FALSE(ExtractLyricsFromPage(std::wstring(L"<p>") + LyricsNotLicensedNotice + L"</p>" + box + L"words<!--", lyrics));
  std::wstring damaged = box + L"words<!--";
  damaged += static_cast<wchar_t>(0xFFFD);
  lyrics = L"stale";
  EXPECT_FALSE(ExtractLyricsFromPage(damaged, lyrics));
  EXPECT_TRUE(lyrics.IsEmpty());
  // The plain sentence is not the notice.
  EXPECT_TRUE(ExtractLyricsFromPage(
      box + L"words<!-- Unfortunately, we are not licensed to display the full lyrics for this song at the moment", lyrics));
}

// Exhaustive over short texts of line-break characters, marker text and a
// letter: every combination up to eight tokens.
TEST(LyricsCleaningDifferential, NormalizeLineBreaksMatchesRuleOnAllShortTexts) {
  const std::wstring tokens[] = {L"\r", L"\n", L"<sbrNewline>", L"a"};
  const size_t kTokens = 4;
  int compared = 0;
  for (int length = 0; length <= 8; ++length) {
    size_t combos = 1;
    for (int i = 0; i < length; ++i) combos *= kTokens;
    for (size_t code = 0; code < combos; ++code) {
      std::wstring text;
      size_t c = code;
      for (int i = 0; i < length; ++i, c /= kTokens) text += tokens[c % kTokens];
      std::wstring fast = text, slow = text;
      NormalizeLineBreaks(fast);
      oracle::NormalizeLineBreaks(slow);
      ASSERT_EQ(Show(fast), Show(slow)) << "input " << Show(text);
      ++compared;
    }
  }
  EXPECT_GT(compared, 80000);
}

// Random texts from break tags, near-miss tags, line breaks, angle
// brackets, the marker and its fragments, and letters, through each step and
// the whole cleaning.
TEST(LyricsCleaningDifferential, AllStepsMatchRulesOnGeneratedTexts) {
  const std::vector<std::wstring> pieces = {
      L"<br>", L"<BR>", L"<br />", L"<br/>", L"\r",  L"\n",  L"\r\n", L"<",    L">",
      L"<sbrNewline>", L"<sbr", L"Newline>", L"a",  L"b",   L" ",   L"<Br>", L"<br",
      L"/>", L"<i>", L"br>", L"<b", L"r>",
  };
  std::mt19937 rng(20240611u);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> len(0, 40);
  for (int round = 0; round < 20000; ++round) {
    std::wstring text;
    // Some rounds favour the break tags and line breaks, which is where the
    // rules interact.
    const bool dense = round % 2 == 0;
    for (int n = len(rng); n > 0; --n) text += pieces[dense ? pick(rng) % 7 : pick(rng)];

    for (const wchar_t* tag : {L"<br>", L"<BR>", L"<br />", L"<br/>"}) {
      std::wstring fast = text, slow = text;
      ReplaceBreakTag(fast, tag);
      oracle::ReplaceBreakTag(slow, tag);
      ASSERT_EQ(Show(fast), Show(slow)) << "tag " << Show(tag) << " input " << Show(text);
    }
    std::wstring fast = text, slow = text;
    NormalizeLineBreaks(fast);
    oracle::NormalizeLineBreaks(slow);
    ASSERT_EQ(Show(fast), Show(slow)) << "input " << Show(text);
    fast = text;
    slow = text;
    StripTags(fast);
    oracle::StripTags(slow);
    ASSERT_EQ(Show(fast), Show(slow)) << "input " << Show(text);
    ASSERT_EQ(Show(Clean(text)), Show(OracleClean(text))) << "input " << Show(text);
  }
}

// The shapes that made the literal rules quadratic finish and keep their
// meaning at a size the oracle could not handle in reasonable time.
TEST(LyricsCleaningDifferential, HostileShapesKeepTheirMeaningAtScale) {
  const size_t n = 200000;
  std::wstring tags;
  for (size_t i = 0; i < n; ++i) tags += L"x<br>";
  NormalizeBreakTags(tags);
  EXPECT_EQ(tags.size(), n * 3);
  EXPECT_EQ(tags.compare(0, 6, L"x\r\nx\r\n"), 0);

  std::wstring pairs;
  for (size_t i = 0; i < n; ++i) pairs += L"\n\n";
  NormalizeLineBreaks(pairs);
  EXPECT_EQ(pairs.size(), n * 2);  // each LF LF folds to one CR LF

  std::wstring unclosed(n, L'<');
  unclosed += L"tail";
  StripTags(unclosed);
  EXPECT_EQ(unclosed.size(), n + 4);

  std::wstring many;
  for (size_t i = 0; i < n; ++i) many += L"<i>a";
  StripTags(many);
  EXPECT_EQ(many, std::wstring(n, L'a'));
}

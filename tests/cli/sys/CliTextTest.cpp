// The CLI's own text steps: UTF-8 conversion, line ends and title choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

using namespace cli;

TEST(Utf8Conversion, RoundTripsEveryPlane) {
  const std::string text = "a\xC3\xA0\xE2\x82\xAC\xF0\x9F\x8E\xB5z";  // a à € 🎵 z
  std::wstring wide = Utf8ToWide(text);
  if (sizeof(wchar_t) == 4) {
    EXPECT_EQ(wide, std::wstring(L"a\u00E0\u20AC") + static_cast<wchar_t>(0x1F3B5) + L"z");
  }
  EXPECT_EQ(WideToUtf8(wide), text);
}

TEST(Utf8Conversion, MalformedInputBecomesReplacementCharacters) {
  // Overlong slash, lone continuation, truncated sequence, encoded surrogate.
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("a\x80" "b"), L"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("x\xE2\x82"), L"x\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xE2\x82" "A"), L"\uFFFDA");
}

TEST(Utf8Conversion, InvalidWideCharactersBecomeReplacementCharacters) {
  std::wstring bad;
  bad += static_cast<wchar_t>(0xD800);
  if (sizeof(wchar_t) == 4) bad += static_cast<wchar_t>(0x110000);
  std::string out = WideToUtf8(bad);
  std::string expected;
  for (size_t i = 0; i < bad.size(); ++i) expected += "\xEF\xBF\xBD";
  EXPECT_EQ(out, expected);
}

TEST(LineEnds, CrLfAndLoneCrBecomeLfWithOneFinalNewline) {
  EXPECT_EQ(ToUnixLines("a\r\nb\r\n\r\nc"), "a\nb\n\nc\n");
  EXPECT_EQ(ToUnixLines("a\rb"), "a\nb\n");
  EXPECT_EQ(ToUnixLines("a\n\n\n"), "a\n");
  EXPECT_EQ(ToUnixLines(""), "");
}

TEST(TitleChoice, ExactAfterTrimAndCaseWinsOverCloserSpellings) {
  std::vector<std::wstring> titles = {L"Salt Roads", L"Quill and Ink", L"Salt Road"};
  STitleChoice c = ChooseTitle(titles, {}, L"  SALT ROAD ");
  EXPECT_TRUE(c.bExact);
  EXPECT_EQ(c.nIndex, 2u);
}

TEST(TitleChoice, ClosestTitleOtherwiseEarliestOnTies) {
  std::vector<std::wstring> titles = {L"Greensleeves", L"Salt Road", L"Salt Toad"};
  STitleChoice c = ChooseTitle(titles, {}, L"salt rod");
  EXPECT_FALSE(c.bExact);
  EXPECT_EQ(c.nIndex, 1u);
  EXPECT_EQ(ChooseTitle({}, {}, L"x").nIndex, std::wstring::npos);
  EXPECT_EQ(ChooseTitle({L"\u00C0 la claire fontaine"}, {}, L"\u00E0 LA CLAIRE FONTAINE").bExact, true);
}

TEST(TitleChoice, HugeTitlesCostBoundedWork) {
  std::vector<std::wstring> titles(300, std::wstring(100000, L'x'));
  titles.push_back(L"target");
  STitleChoice c = ChooseTitle(titles, {}, L"target");
  EXPECT_TRUE(c.bExact);
  EXPECT_EQ(c.nIndex, 300u);
  EXPECT_EQ(EditDistance(L"kitten", L"sitting"), 3u);
}

TEST(TitleChoice, TheStartOfALongTitleBeatsAShortUnrelatedOne) {
  std::vector<std::wstring> titles = {L"Early One Morning", L"Who Will Shoe Your Pretty Little Foot?"};
  EXPECT_EQ(ChooseTitle(titles, {}, L"who will shoe").nIndex, 1u);
  EXPECT_EQ(ChooseTitle(titles, {}, L"pretty foot").nIndex, 1u);
  EXPECT_EQ(ChooseTitle(titles, {}, L"erly morning").nIndex, 0u);
  // Of titles containing the typed text, the one with least beyond it wins.
  EXPECT_EQ(ChooseTitle({L"Salt Road (live at the harbour)", L"Salt Road (live)"}, {}, L"salt road").nIndex, 1u);
  EXPECT_EQ(SubstringDistance(L"wier", L"lanterns on the weir"), 2u);
  EXPECT_EQ(SubstringDistance(L"", L"abc"), 0u);
}


// The CLI's own text steps: UTF-8 conversion, line ends, safe and unique
// file names, title choice and the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/FileNames.h"
#include "cli/Progress.h"
#include "cli/TextConvert.h"
#include "cli/TitleMatch.h"

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

TEST(SafeFileNames, ReservedCharactersAndEndsAreReplaced) {
  EXPECT_EQ(SafeBaseName(L"Who Will Shoe Your Pretty Little Foot?"), "Who Will Shoe Your Pretty Little Foot_");
  EXPECT_EQ(SafeBaseName(L"AC/DC: <live> \"best\" | a*b\\c"), "AC_DC_ _live_ _best_ _ a_b_c");
  EXPECT_EQ(SafeBaseName(L"../../etc/passwd"), "_.._etc_passwd");
  EXPECT_EQ(SafeBaseName(L"  ..hidden. . "), "hidden");
  EXPECT_EQ(SafeBaseName(L"tab\tand\nnewline"), "tab and_newline");
  EXPECT_EQ(SafeBaseName(L""), "untitled");
  EXPECT_EQ(SafeBaseName(L"..."), "untitled");
  EXPECT_EQ(SafeBaseName(L"\u00C0 la claire fontaine"), "\xC3\x80 la claire fontaine");
}

TEST(SafeFileNames, WindowsDeviceNamesAreAvoided) {
  EXPECT_EQ(SafeBaseName(L"CON"), "CON_");
  EXPECT_EQ(SafeBaseName(L"nul"), "nul_");
  EXPECT_EQ(SafeBaseName(L"Com1"), "Com1_");
  EXPECT_EQ(SafeBaseName(L"aux.txt"), "aux_.txt");
  EXPECT_EQ(SafeBaseName(L"LPT9 "), "LPT9_");
  EXPECT_EQ(SafeBaseName(L"Console"), "Console");
}

TEST(SafeFileNames, LongTitlesAreCutOnACharacterBoundary) {
  std::wstring title(200, L'\u00E9');  // two bytes each in UTF-8
  std::string name = SafeBaseName(title);
  EXPECT_LE(name.size(), 120u);  // the longest base name the CLI writes
  EXPECT_EQ(name.size() % 2, 0u);
  EXPECT_EQ(Utf8ToWide(name), std::wstring(name.size() / 2, L'\u00E9'));
  std::string blanks = SafeBaseName(std::wstring(119, L'x') + L" tail");
  EXPECT_EQ(blanks, std::string(119, 'x'));  // the cut leaves no trailing blank
}

TEST(UniqueNames, DuplicatesDifferingOnlyInCaseGetNumbers) {
  CUniqueNamer namer;
  EXPECT_EQ(namer.Assign("Salt Road", ".txt"), "Salt Road.txt");
  EXPECT_EQ(namer.Assign("salt road", ".txt"), "salt road (2).txt");
  EXPECT_EQ(namer.Assign("Salt Road", ".txt"), "Salt Road (3).txt");
  // A title that already looks like a numbered name does not collide.
  EXPECT_EQ(namer.Assign("Salt Road (2)", ".txt"), "Salt Road (2) (2).txt");
  EXPECT_EQ(namer.Assign("Other", ".txt"), "Other.txt");
}

TEST(TitleChoice, ExactAfterTrimAndCaseWinsOverCloserSpellings) {
  std::vector<std::wstring> titles = {L"Salt Roads", L"Quill and Ink", L"Salt Road"};
  STitleChoice c = ChooseTitle(titles, L"  SALT ROAD ");
  EXPECT_TRUE(c.bExact);
  EXPECT_EQ(c.nIndex, 2u);
}

TEST(TitleChoice, ClosestTitleOtherwiseEarliestOnTies) {
  std::vector<std::wstring> titles = {L"Greensleeves", L"Salt Road", L"Salt Toad"};
  STitleChoice c = ChooseTitle(titles, L"salt rod");
  EXPECT_FALSE(c.bExact);
  EXPECT_EQ(c.nIndex, 1u);
  EXPECT_EQ(ChooseTitle({}, L"x").nIndex, std::wstring::npos);
  EXPECT_EQ(ChooseTitle({L"\u00C0 la claire fontaine"}, L"\u00E0 LA CLAIRE FONTAINE").bExact, true);
}

TEST(TitleChoice, HugeTitlesCostBoundedWork) {
  std::vector<std::wstring> titles(300, std::wstring(100000, L'x'));
  titles.push_back(L"target");
  STitleChoice c = ChooseTitle(titles, L"target");
  EXPECT_TRUE(c.bExact);
  EXPECT_EQ(c.nIndex, 300u);
  EXPECT_EQ(EditDistance(L"kitten", L"sitting"), 3u);
}

TEST(TitleChoice, TheStartOfALongTitleBeatsAShortUnrelatedOne) {
  std::vector<std::wstring> titles = {L"Early One Morning", L"Who Will Shoe Your Pretty Little Foot?"};
  EXPECT_EQ(ChooseTitle(titles, L"who will shoe").nIndex, 1u);
  EXPECT_EQ(ChooseTitle(titles, L"pretty foot").nIndex, 1u);
  EXPECT_EQ(ChooseTitle(titles, L"erly morning").nIndex, 0u);
  // Of titles containing the typed text, the one with least beyond it wins.
  EXPECT_EQ(ChooseTitle({L"Salt Road (live at the harbour)", L"Salt Road (live)"}, L"salt road").nIndex, 1u);
  EXPECT_EQ(SubstringDistance(L"wier", L"lanterns on the weir"), 2u);
  EXPECT_EQ(SubstringDistance(L"", L"abc"), 0u);
}

TEST(ProgressLine, FitsTheTerminalAndShowsCountsAndTime) {
  std::string line = CProgress::Render(3, 12, "Salt Road", 75, 80);
  EXPECT_EQ(line, "[#####---------------] 3/12 01:15 Salt Road");
  std::string narrow = CProgress::Render(1, 2, "A very long title that will not fit", 0, 40);
  EXPECT_EQ(Utf8ToWide(narrow).size(), 39u);
  EXPECT_NE(narrow.find("..."), std::string::npos);
  EXPECT_EQ(CProgress::Render(0, 0, "x\ty", 0, 80), "[####################] 0/0 00:00 x y");
}

// The artist name distance: worked examples, the character classes and
// prices, the bracket rule, locale independence, and a differential test
// against a literal, matrix-per-call rendering of the algorithm.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

#include <versewell/cstring.h>

#include "search/ArtistNameMatcher.h"

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

// ---------------------------------------------------------------------------
// The oracle: the algorithm exactly as stated, step by step. Rows are
// allocated one by one, the bracket test walks the names for every cell,
// and case folding is the C runtime's towupper in the "C" locale. It shares
// nothing with the matcher: the character classes and the 5 x 5 price table
// are written out here, so a wrong price or class in the matcher shows.
// ---------------------------------------------------------------------------
const wchar_t kPairs[4][2] = {{L'(', L')'}, {L'[', L']'}, {L'{', L'}'}, {L'<', L'>'}};

// Rows and columns: 0 punctuation, 1 digit, 2 other, 3 blank, 4 none.
const float kPrices[5][5] = {
    {20, 25, 25, 10, 30},
    {25, 20, 60, 15, 20},
    {25, 60, 100, 70, 70},
    {10, 15, 70, 1, 5},
    {30, 20, 70, 5, 0},
};

int OracleClass(wchar_t c) {
  const unsigned long u = static_cast<unsigned long>(c);
  if (u == 0) return 4;
  if (u >= 0x30 && u <= 0x39) return 1;
  if (u == 0x20 || u == 0x08 || u == 0x0B) return 3;
  if ((u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x3F) || (u >= 0x5B && u <= 0x5F) ||
      (u >= 0x7B && u <= 0x7E))
    return 0;
  return 2;
}

float OraclePrice(wchar_t a, wchar_t b) { return kPrices[OracleClass(a)][OracleClass(b)]; }

float OracleMin3(float x, float y, float z) {
  const float m = x < y ? x : y;
  return m < z ? m : z;
}

std::vector<wchar_t> OracleUnits(const wchar_t* text) {
  CString s(text);
  s.Trim();
  std::vector<wchar_t> units;
  for (wchar_t c : s.Str()) {
    const unsigned long u = static_cast<unsigned long>(c);
    if (sizeof(wchar_t) > 2 && u > 0xFFFF && u <= 0x10FFFF) {
      units.push_back(static_cast<wchar_t>(0xD800 + ((u - 0x10000) >> 10)));
      units.push_back(static_cast<wchar_t>(0xDC00 + ((u - 0x10000) & 0x3FF)));
    } else {
      units.push_back(c);
    }
  }
  return units;
}

bool OracleInside(const std::vector<wchar_t>& a, const std::vector<wchar_t>& b, int i, int j) {
  for (const auto& pair : kPairs) {
    const std::vector<wchar_t>* names[2] = {&a, &b};
    const int positions[2] = {i, j};
    for (int k = 0; k < 2; ++k) {
      const std::vector<wchar_t>& name = *names[k];
      const int last = static_cast<int>(name.size()) - 1;
      for (int x = positions[k]; x >= 0; --x) {
        if (name[x] != pair[0]) continue;
        for (int y = positions[k]; y <= last; ++y)
          if (name[y] == pair[1] && (x > 0 || y != last)) return true;
      }
    }
  }
  return false;
}

float OracleDistance(const wchar_t* wanted, const wchar_t* candidate) {
  const std::vector<wchar_t> a = OracleUnits(wanted), b = OracleUnits(candidate);
  const size_t n = a.size(), m = b.size();
  float** d = new float*[n + 1];
  for (size_t i = 0; i <= n; ++i) d[i] = new float[m + 1];
  d[0][0] = 0;
  for (size_t i = 1; i <= n; ++i) d[i][0] = d[i - 1][0] + OraclePrice(a[i - 1], 0);
  for (size_t j = 1; j <= m; ++j) d[0][j] = d[0][j - 1] + OraclePrice(0, b[j - 1]);
  const float factor = 0.1f;
  for (size_t i = 1; i <= n; ++i) {
    for (size_t j = 1; j <= m; ++j) {
      float replacement;
      bool inside = false;
      if (std::towupper(static_cast<wint_t>(a[i - 1])) == std::towupper(static_cast<wint_t>(b[j - 1]))) {
        replacement = 0;
      } else {
        replacement = OraclePrice(a[i - 1], b[j - 1]);
        inside = OracleInside(a, b, static_cast<int>(i - 1), static_cast<int>(j - 1));
        if (inside) replacement *= factor;
      }
      float deletion = OraclePrice(a[i - 1], 0);
      float insertion = OraclePrice(0, b[j - 1]);
      if (inside) {
        deletion *= factor;
        insertion *= factor;
      }
      const float s1 = d[i - 1][j - 1] + replacement;
      const float s2 = d[i - 1][j] + deletion;
      const float s3 = d[i][j - 1] + insertion;
      d[i][j] = OracleMin3(s1, s2, s3);
    }
  }
  const float result = d[n][m];
  for (size_t i = 0; i <= n; ++i) delete[] d[i];
  delete[] d;
  return result;
}

struct Example {
  const wchar_t* wanted;
  const wchar_t* candidate;
  float expected;
};

}  // namespace

TEST(ArtistNameDistance, WorkedExamplesComeOutExactly) {
  const Example examples[] = {
      {L"Beatles", L"beatles", 0},    {L"Pink", L"Pink ", 0},        {L"The Beatles", L"Beatles", 215},
      {L"AC/DC", L"AC DC", 10},       {L"ACDC", L"AC/DC", 30},       {L"Blink 182", L"Blink-182", 10},
      {L"a b", L"a  b", 5},           {L"1", L"2", 20},              {L"A", L"B", 100},
      {L"", L"A", 70},                {L"Abc[x]", L"Abc[y]", 10},    {L"(Abba)", L"(Abbb)", 100},
      {L"Abba", L"Abba (band)", 102}, {L"", L"", 0},                 {L"  \t", L"\r\n", 0},
  };
  CArtistNameMatcher matcher;
  for (size_t k = 0; k < sizeof examples / sizeof examples[0]; ++k) {
    const float d = matcher.GetDistance(examples[k].wanted, examples[k].candidate);
    EXPECT_EQ(Bits(d), Bits(examples[k].expected)) << "example " << k << " gave " << d;
  }
  EXPECT_EQ(Bits(matcher.m_fBracketFactor), 0x3DCCCCCDu);
}

TEST(ArtistNameDistance, ZeroExactlyWhenEqualAfterTrimAndAsciiFolding) {
  CArtistNameMatcher matcher;
  EXPECT_EQ(matcher.GetDistance(L"  ABBA\t", L"abba"), 0.0f);
  EXPECT_EQ(matcher.GetDistance(nullptr, L" "), 0.0f);
  EXPECT_GT(matcher.GetDistance(L"Abba", L"Ab ba"), 0.0f);
  // Only a-z fold: accented letters that differ in case stay apart.
  EXPECT_EQ(matcher.GetDistance(L"Bj\u00F6rk", L"BJ\u00D6RK"), 100.0f);
  // The at sign and the grave accent are letters to the price table.
  EXPECT_EQ(matcher.GetDistance(L"a@", L"a`"), 100.0f);
}

TEST(ArtistNameDistance, FoldingIgnoresTheProcessLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  CArtistNameMatcher matcher;
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  const float accented = matcher.GetDistance(L"\u00F6", L"\u00D6");
  const float cyrillic = matcher.GetDistance(L"\u0434", L"\u0414");
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(accented, 100.0f);
  EXPECT_EQ(cyrillic, 100.0f);
}

TEST(ArtistNameDistance, CharactersAboveTheBmpCountAsTwoUnits) {
  CArtistNameMatcher matcher;
  EXPECT_EQ(matcher.GetDistance(L"", L"\U0001D11E"), 140.0f);
  // Same high surrogate: only the low unit is replaced.
  EXPECT_EQ(matcher.GetDistance(L"\U0001D11E", L"\U0001D122"), 100.0f);
}

TEST(ArtistNameCharClasses, FollowTheTableIncludingItsOddCases) {
  using M = CArtistNameMatcher;
  EXPECT_EQ(M::GetCharClass(0), M::CLASS_NONE);
  EXPECT_EQ(M::GetCharClass(L'0'), M::CLASS_DIGIT);
  EXPECT_EQ(M::GetCharClass(L'9'), M::CLASS_DIGIT);
  EXPECT_EQ(M::GetCharClass(L' '), M::CLASS_BLANK);
  EXPECT_EQ(M::GetCharClass(0x08), M::CLASS_BLANK);
  EXPECT_EQ(M::GetCharClass(0x0B), M::CLASS_BLANK);
  EXPECT_EQ(M::GetCharClass(L'\t'), M::CLASS_OTHER);
  for (wchar_t c : std::wstring(L"!/:?[_{~")) EXPECT_EQ(M::GetCharClass(c), M::CLASS_PUNCTUATION) << int(c);
  for (wchar_t c : std::wstring(L"@`aZ\x7F\xE9\x3000")) EXPECT_EQ(M::GetCharClass(c), M::CLASS_OTHER) << int(c);
  // Not cut to 16 bits: U+10020 is a letter-like character, not a blank.
  // Only a 4-byte wchar_t can hold it; a 2-byte one (Windows) carries it as
  // the pair D800 DC20, neither of which is a blank.
  if (sizeof(wchar_t) == 4) {
    EXPECT_EQ(M::GetCharClass(static_cast<wchar_t>(0x10020)), M::CLASS_OTHER);
  } else {
    EXPECT_EQ(M::GetCharClass(static_cast<wchar_t>(0xD800)), M::CLASS_OTHER);
    EXPECT_EQ(M::GetCharClass(static_cast<wchar_t>(0xDC20)), M::CLASS_OTHER);
  }
}

TEST(ArtistNameCharCosts, EveryCellOfThePriceTable) {
  using M = CArtistNameMatcher;
  // Two representatives of each class, so a class boundary off by one in
  // the matcher shows as well as a wrong price.
  const wchar_t samples[5][2] = {{L'!', L'~'}, {L'0', L'9'}, {L'x', L'@'}, {L' ', 0x0B}, {0, 0}};
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c)
      for (wchar_t a : samples[r])
        for (wchar_t b : samples[c])
          EXPECT_EQ(M::GetCharCost(a, b), kPrices[r][c]) << "row " << r << " column " << c << ": "
                                                          << int(a) << ", " << int(b);
  EXPECT_EQ(M::Min3(3, 1, 2), 1.0f);
  EXPECT_EQ(M::Min3(1, 3, 2), 1.0f);
  EXPECT_EQ(M::Min3(3, 2, 1), 1.0f);
}

TEST(ArtistNameCharCosts, SingleCharacterDistancesFollowTheTable) {
  // Through the public measure only: one character against one other of
  // each class is the cheaper of replacing it and deleting plus inserting.
  const wchar_t samples[4] = {L'-', L'7', L'q', L' '};
  CArtistNameMatcher matcher;
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(matcher.GetDistance(std::wstring(L"a") + samples[r] + L"a", L"aa"), kPrices[r][4]) << r;
    for (int c = 0; c < 4; ++c) {
      if (r == c) continue;
      const std::wstring a = std::wstring(L"a") + samples[r] + L"a", b = std::wstring(L"a") + samples[c] + L"a";
      const float expected = OracleMin3(kPrices[r][c], kPrices[r][4] + kPrices[4][c], 1e9f);
      EXPECT_EQ(matcher.GetDistance(a, b), expected) << r << ", " << c;
    }
  }
}

TEST(ArtistNameBrackets, InsideRuleWithWholeNamePairAndMixedPairs) {
  using M = CArtistNameMatcher;
  EXPECT_TRUE(M::IsInsideBrackets(L"Abc[x]", L"", 4, -1));
  EXPECT_TRUE(M::IsInsideBrackets(L"Abc[x]", L"", 3, -1));   // the bracket itself counts
  EXPECT_FALSE(M::IsInsideBrackets(L"Abc[x]", L"", 2, -1));
  EXPECT_FALSE(M::IsInsideBrackets(L"(Abba)", L"", 2, -1));  // encloses the whole name
  EXPECT_TRUE(M::IsInsideBrackets(L"(Ab)ba)", L"", 2, -1));  // a closing bracket before the end
  EXPECT_TRUE(M::IsInsideBrackets(L"((Abba)", L"", 3, -1));  // an opening bracket after the start
  EXPECT_FALSE(M::IsInsideBrackets(L"a(b]c", L"", 2, -1));   // pairs do not mix
  EXPECT_TRUE(M::IsInsideBrackets(L"a<b>", L"x", 2, 0));
  EXPECT_TRUE(M::IsInsideBrackets(L"x", L"a{b}", 0, 2));     // either name
  EXPECT_FALSE(M::IsInsideBrackets(L"a]b(", L"", 1, -1));    // order reversed
  EXPECT_FALSE(M::IsInsideBrackets(L"ab", L"ab", 5, 7));     // out of range
}

TEST(ArtistNameDistance, EqualsTheLiteralAlgorithmOnGeneratedNames) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");  // the oracle's towupper must be the C locale's
  const std::wstring alphabet = L"aAbBzZ  ()[]{}<>-/.'&09\t@`\u00E9\u00C9\u0416\U0001F3B8";
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 14);
  auto make = [&]() {
    std::wstring s;
    for (int k = length(rng); k > 0; --k) s += alphabet[pick(rng)];
    return s;
  };
  CArtistNameMatcher reused;  // scratch buffers carried across calls
  int mismatches = 0;
  for (int round = 0; round < 20000 && mismatches < 5; ++round) {
    std::wstring a = make(), b = make();
    if (round % 7 == 0) b = a;  // near-equal pairs: mutate one character
    if (round % 7 == 0 && !b.empty()) b[rng() % b.size()] = alphabet[pick(rng)];
    const float expected = OracleDistance(a.c_str(), b.c_str());
    const float actual = reused.GetDistance(a, b);
    if (Bits(expected) != Bits(actual)) {
      ++mismatches;
      ADD_FAILURE() << "round " << round << ": expected " << expected << ", got " << actual;
    }
    // The bounded form agrees on every limit, including the distance itself.
    const float limits[] = {0.0f, 1.0f, 50.0f, 100.5f, expected, std::nextafter(expected, 1e9f)};
    for (float limit : limits) {
      const float below = reused.GetDistanceBelow(a, b, limit);
      if ((below < limit) != (expected < limit) || (expected < limit && Bits(below) != Bits(expected))) {
        ++mismatches;
        ADD_FAILURE() << "round " << round << ": limit " << limit << " gave " << below << " for " << expected;
      }
    }
  }
  std::setlocale(LC_ALL, previous.c_str());
}

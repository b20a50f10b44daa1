// CArtistNameMatcher: the weighted edit distance between two artist names.
//
// Insertions, deletions and replacements are priced by the kinds of the
// characters involved (punctuation, digit, other, blank, none); a cell of the
// distance matrix whose position lies inside brackets in either name costs
// m_fBracketFactor of the full price, unless its two characters are equal
// after case folding. Both names are trimmed of white space first and case
// folding is that of the C runtime's default locale (a-z only), whatever
// locale the host process has set.
//
// All arithmetic is 32-bit float and each of the three sums of a cell is
// rounded to float before the comparison, so results are bit-identical on
// every target. Names are measured in UTF-16 code units: where wchar_t is 32
// bits, a character above U+FFFF counts as its two surrogate units, as it
// does on Windows.
//
// Ownership: a small value object; the caller creates one per search. It
//   keeps scratch buffers between calls, so reusing one object for many
//   candidates avoids allocations.
// Failure: none besides std::bad_alloc from the scratch buffers.
// Threads: one object per thread; the static members are pure.
#ifndef VERSEWELL_SEARCH_ARTIST_NAME_MATCHER_H
#define VERSEWELL_SEARCH_ARTIST_NAME_MATCHER_H

#include <cstddef>
#include <string>
#include <vector>

class CArtistNameMatcher {
 public:
  // Character classes (row and column of the price table).
  static constexpr int CLASS_PUNCTUATION = 0;
  static constexpr int CLASS_DIGIT = 1;
  static constexpr int CLASS_OTHER = 2;
  static constexpr int CLASS_BLANK = 3;
  static constexpr int CLASS_NONE = 4;

  CArtistNameMatcher();

  // Distance of `candidate` from `wanted` (null reads as empty). 0 exactly
  // when the names are equal after trimming and case folding; positive
  // otherwise.
  float GetDistance(const wchar_t* wanted, const wchar_t* candidate);
  float GetDistance(const std::wstring& wanted, const std::wstring& candidate);
  // For choosing among many candidates: the distance when it is below
  // `limit`; otherwise some value not below `limit` (the computation stops
  // as soon as no cell of the current row can lead below it). So
  // GetDistanceBelow(a, b, l) < l exactly when GetDistance(a, b) < l, and
  // then both are equal.
  float GetDistanceBelow(const std::wstring& wanted, const std::wstring& candidate, float limit);
  float GetDistanceBelow(const wchar_t* wanted, size_t wantedLength, const wchar_t* candidate,
                         size_t candidateLength, float limit);

  static int GetCharClass(wchar_t c);
  // Price for the classes of `a` and `b`; 0 on one side prices the
  // insertion or deletion of the other.
  static float GetCharCost(wchar_t a, wchar_t b);
  // True when position i of `a` or position j of `b` lies inside a bracket
  // pair of that name (a pair enclosing the whole name does not count).
  // Positions outside a name's bounds are never inside.
  static bool IsInsideBrackets(const wchar_t* a, const wchar_t* b, int i, int j);
  static float Min3(float x, float y, float z);

  float m_fBracketFactor;

 private:
  // Trimmed UTF-16 units of a name, their folded form, their classes and
  // the per-position bracket flags.
  struct CPrepared {
    std::vector<wchar_t> units;
    std::vector<wchar_t> folded;
    std::vector<unsigned char> classes;
    std::vector<unsigned char> inBrackets;
    std::vector<long> nextClose;  // scratch for the bracket flags
  };
  static void Prepare(const wchar_t* text, size_t length, CPrepared& out);
  float Distance(const wchar_t* wanted, size_t wantedLength, const wchar_t* candidate, size_t candidateLength,
                 float limit);

  // The wanted name is prepared once for a run of candidates.
  std::wstring m_strPreparedWanted;
  bool m_bWantedPrepared = false;
  CPrepared m_a;
  CPrepared m_b;
  std::vector<float> m_rows;
};

#endif  // VERSEWELL_SEARCH_ARTIST_NAME_MATCHER_H

#include "search/ArtistNameMatcher.h"

#include <cwchar>
#include <limits>

#include <versewell/cstring.h>

namespace {

// Row = class of the first character, column = class of the second.
const float kCharCost[5][5] = {
    // punct  digit  other  blank  none
    {20.0f, 25.0f, 25.0f, 10.0f, 30.0f},   // punctuation
    {25.0f, 20.0f, 60.0f, 15.0f, 20.0f},   // digit
    {25.0f, 60.0f, 100.0f, 70.0f, 70.0f},  // other
    {10.0f, 15.0f, 70.0f, 1.0f, 5.0f},     // blank
    {30.0f, 20.0f, 70.0f, 5.0f, 0.0f},     // none
};

// Bracket pairs in the order they are tested.
const wchar_t kBrackets[4][2] = {{L'(', L')'}, {L'[', L']'}, {L'{', L'}'}, {L'<', L'>'}};

// The default-locale runtime upper-casing: a-z only.
inline wchar_t FoldCase(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 0x20) : c; }

// True when position `pos` of `name` (length `length`) lies inside a bracket
// pair, walking exactly as the rule is stated: every opening bracket at or
// before the position against every closing bracket at or after it.
bool IsInsideBracketsOf(const wchar_t* name, int length, int pos) {
  if (name == nullptr || pos < 0 || pos >= length) return false;
  for (const auto& pair : kBrackets) {
    for (int x = pos; x >= 0; --x) {
      if (name[x] != pair[0]) continue;
      for (int y = pos; y < length; ++y)
        if (name[y] == pair[1] && (x > 0 || y != length - 1)) return true;
    }
  }
  return false;
}

}  // namespace

CArtistNameMatcher::CArtistNameMatcher() : m_fBracketFactor(0.1f) {}

int CArtistNameMatcher::GetCharClass(wchar_t c) {
  const unsigned long u = static_cast<unsigned long>(c);
  if (u == 0) return CLASS_NONE;
  if (u >= 0x30 && u <= 0x39) return CLASS_DIGIT;
  if (u == 0x20 || u == 0x08 || u == 0x0B) return CLASS_BLANK;
  if ((u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x3F) || (u >= 0x5B && u <= 0x5F) || (u >= 0x7B && u <= 0x7E))
    return CLASS_PUNCTUATION;
  return CLASS_OTHER;
}

float CArtistNameMatcher::GetCharCost(wchar_t a, wchar_t b) { return kCharCost[GetCharClass(a)][GetCharClass(b)]; }

bool CArtistNameMatcher::IsInsideBrackets(const wchar_t* a, const wchar_t* b, int i, int j) {
  const int n = a != nullptr ? static_cast<int>(std::wcslen(a)) : 0;
  const int m = b != nullptr ? static_cast<int>(std::wcslen(b)) : 0;
  // Each pair is tried for a and then for b; since any hit answers true,
  // testing all pairs of a and then all pairs of b gives the same answer.
  return IsInsideBracketsOf(a, n, i) || IsInsideBracketsOf(b, m, j);
}

float CArtistNameMatcher::Min3(float x, float y, float z) {
  float m = x;
  if (y < m) m = y;
  if (z < m) m = z;
  return m;
}

void CArtistNameMatcher::Prepare(const wchar_t* text, size_t length, CPrepared& out) {
  size_t begin = 0, end = length;
  while (begin < end && versewell_detail::IsWideSpace(text[begin])) ++begin;
  while (end > begin && versewell_detail::IsWideSpace(text[end - 1])) --end;

  out.units.clear();
  for (size_t k = begin; k < end; ++k) {
    const unsigned long c = static_cast<unsigned long>(text[k]);
    if (sizeof(wchar_t) > 2 && c > 0xFFFF && c <= 0x10FFFF) {
      // Measured as on a UTF-16 target: a surrogate pair.
      out.units.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.units.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.units.push_back(text[k]);
    }
  }
  const size_t n = out.units.size();
  out.folded.resize(n);
  out.classes.resize(n);
  out.inBrackets.assign(n, 0);
  for (size_t k = 0; k < n; ++k) {
    out.folded[k] = FoldCase(out.units[k]);
    out.classes[k] = static_cast<unsigned char>(GetCharClass(out.units[k]));
  }
  if (n == 0) return;

  // A position is inside a pair when the nearest opening bracket at or
  // before it and the nearest closing bracket at or after it exist, unless
  // the only choice is the pair that opens at 0 and closes at the end.
  bool anyBracket = false;
  for (size_t k = 0; k < n && !anyBracket; ++k)
    for (const auto& pair : kBrackets)
      if (out.units[k] == pair[0]) anyBracket = true;
  if (!anyBracket) return;
  out.nextClose.resize(n);
  for (const auto& pair : kBrackets) {
    long nextClose = -1;
    for (size_t k = n; k-- > 0;) {
      if (out.units[k] == pair[1]) nextClose = static_cast<long>(k);
      out.nextClose[k] = nextClose;
    }
    long lastOpen = -1;
    for (size_t k = 0; k < n; ++k) {
      if (out.units[k] == pair[0]) lastOpen = static_cast<long>(k);
      const long close = out.nextClose[k];
      if (lastOpen >= 0 && close >= 0 && (lastOpen > 0 || close != static_cast<long>(n) - 1)) out.inBrackets[k] = 1;
    }
  }
}

float CArtistNameMatcher::GetDistance(const wchar_t* wanted, const wchar_t* candidate) {
  const wchar_t* a = wanted != nullptr ? wanted : L"";
  const wchar_t* b = candidate != nullptr ? candidate : L"";
  return Distance(a, std::wcslen(a), b, std::wcslen(b), std::numeric_limits<float>::infinity());
}

float CArtistNameMatcher::GetDistance(const std::wstring& wanted, const std::wstring& candidate) {
  return Distance(wanted.data(), wanted.size(), candidate.data(), candidate.size(),
                  std::numeric_limits<float>::infinity());
}

float CArtistNameMatcher::GetDistanceBelow(const std::wstring& wanted, const std::wstring& candidate, float limit) {
  return Distance(wanted.data(), wanted.size(), candidate.data(), candidate.size(), limit);
}

float CArtistNameMatcher::GetDistanceBelow(const wchar_t* wanted, size_t wantedLength, const wchar_t* candidate,
                                           size_t candidateLength, float limit) {
  return Distance(wanted != nullptr ? wanted : L"", wanted != nullptr ? wantedLength : 0,
                  candidate != nullptr ? candidate : L"", candidate != nullptr ? candidateLength : 0, limit);
}

float CArtistNameMatcher::Distance(const wchar_t* wanted, size_t wantedLength, const wchar_t* candidate,
                                   size_t candidateLength, float limit) {
  if (!m_bWantedPrepared || m_strPreparedWanted.size() != wantedLength ||
      m_strPreparedWanted.compare(0, wantedLength, wanted, wantedLength) != 0) {
    m_strPreparedWanted.assign(wanted, wantedLength);
    Prepare(wanted, wantedLength, m_a);
    m_bWantedPrepared = true;
  }
  Prepare(candidate, candidateLength, m_b);
  const size_t n = m_a.units.size();
  const size_t m = m_b.units.size();

  // Two rows of the matrix suffice: row i needs only row i - 1. Every cell
  // is computed exactly as in the full matrix.
  m_rows.resize(2 * (m + 1));
  float* prev = m_rows.data();
  float* cur = prev + (m + 1);
  prev[0] = 0.0f;
  for (size_t j = 1; j <= m; ++j) prev[j] = prev[j - 1] + kCharCost[CLASS_NONE][m_b.classes[j - 1]];

  const float factor = m_fBracketFactor;
  for (size_t i = 1; i <= n; ++i) {
    const wchar_t fa = m_a.folded[i - 1];
    const int ca = m_a.classes[i - 1];
    const bool insideA = m_a.inBrackets[i - 1] != 0;
    const float deletion = kCharCost[ca][CLASS_NONE];
    const float* costRow = kCharCost[ca];
    cur[0] = prev[0] + deletion;
    float rowMin = cur[0];
    for (size_t j = 1; j <= m; ++j) {
      const int cb = m_b.classes[j - 1];
      float replacement, del = deletion, ins = kCharCost[CLASS_NONE][cb];
      if (fa == m_b.folded[j - 1]) {
        replacement = 0.0f;
      } else {
        replacement = costRow[cb];
        if (insideA || m_b.inBrackets[j - 1] != 0) {
          replacement = replacement * factor;
          del = del * factor;
          ins = ins * factor;
        }
      }
      const float viaReplace = prev[j - 1] + replacement;
      const float viaDelete = prev[j] + del;
      const float viaInsert = cur[j - 1] + ins;
      cur[j] = Min3(viaReplace, viaDelete, viaInsert);
      if (cur[j] < rowMin) rowMin = cur[j];
    }
    // Prices are never negative, so no later row has a smaller cell than
    // this row's smallest: the result cannot come out below it.
    if (rowMin >= limit) return rowMin;
    float* t = prev;
    prev = cur;
    cur = t;
  }
  return prev[m];
}

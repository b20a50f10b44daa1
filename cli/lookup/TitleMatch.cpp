#include "cli/lookup/TitleMatch.h"

#include <algorithm>
#include <tuple>

#include "cli/lookup/TagForms.h"
#include "cli/sys/TextConvert.h"

namespace cli {

size_t EditDistance(const std::wstring& a, const std::wstring& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      size_t replace = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({replace, above + 1, row[j - 1] + 1});
      diagonal = above;
    }
  }
  return row[b.size()];
}

size_t SubstringDistance(const std::wstring& key, const std::wstring& text) {
  // Semi-global alignment: skipping text before and after the match is free.
  std::vector<size_t> row(text.size() + 1, 0);
  for (size_t i = 1; i <= key.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= text.size(); ++j) {
      size_t above = row[j];
      size_t replace = diagonal + (key[i - 1] == text[j - 1] ? 0 : 1);
      row[j] = std::min({replace, above + 1, row[j - 1] + 1});
      diagonal = above;
    }
  }
  return *std::min_element(row.begin(), row.end());
}

namespace {

// The last path segment, percent escapes decoded, "_" as a blank.
std::wstring LastSegment(const std::wstring& url) {
  std::wstring path = url;
  size_t query = path.find_first_of(L"?#");
  if (query != std::wstring::npos) path.erase(query);
  size_t slash = path.rfind(L'/');
  std::wstring segment = slash == std::wstring::npos ? path : path.substr(slash + 1);
  std::string bytes;
  auto hex = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  };
  std::wstring out;
  for (size_t i = 0; i < segment.size(); ++i) {
    wchar_t c = segment[i];
    if (c == L'%' && i + 2 < segment.size() && hex(segment[i + 1]) >= 0 && hex(segment[i + 2]) >= 0) {
      bytes += static_cast<char>(hex(segment[i + 1]) * 16 + hex(segment[i + 2]));
      i += 2;
      continue;
    }
    if (!bytes.empty()) {
      out += Utf8ToWide(bytes);
      bytes.clear();
    }
    out += c == L'_' ? L' ' : c;
  }
  if (!bytes.empty()) out += Utf8ToWide(bytes);
  return out;
}

}  // namespace

std::wstring PageName(const std::wstring& url) {
  std::wstring name = LastSegment(url);
  size_t colon = name.find(L':');
  return colon == std::wstring::npos ? name : name.substr(colon + 1);
}

std::wstring PageArtist(const std::wstring& url) {
  std::wstring name = LastSegment(url);
  size_t colon = name.find(L':');
  return colon == std::wstring::npos ? name : name.substr(0, colon);
}

STitleChoice ChooseTitle(const std::vector<std::wstring>& titles, const std::vector<std::wstring>& pageNames,
                         const std::wstring& wanted) {
  STitleChoice choice;
  const std::wstring key = FoldCase(TrimWide(wanted)).substr(0, MAX_COMPARED_CHARS);
  auto fold = [](const std::wstring& name) { return FoldCase(TrimWide(name.substr(0, MAX_COMPARED_CHARS + 64))); };
  for (size_t i = 0; i < titles.size(); ++i) {
    for (const std::wstring* name : {&titles[i], i < pageNames.size() ? &pageNames[i] : nullptr}) {
      if (name == nullptr || name->empty()) continue;
      std::wstring folded = fold(*name);
      if (folded.size() <= MAX_COMPARED_CHARS && folded == key) {
        choice.nIndex = i;
        choice.bExact = choice.bClose = true;
        choice.vecSuggestions = {i};
        return choice;
      }
    }
  }
  // Of the names equal once normalised, the one closest to the typed text
  // as a whole wins ("Salt Road (live)" over "Salt Road (live at the
  // harbour)"), then list order.
  const std::wstring wantedKey = TitleKey(wanted.substr(0, MAX_COMPARED_CHARS));
  if (!wantedKey.empty()) {
    size_t bestDistance = static_cast<size_t>(-1);
    for (size_t i = 0; i < titles.size(); ++i) {
      for (const std::wstring* name : {&titles[i], i < pageNames.size() ? &pageNames[i] : nullptr}) {
        if (name == nullptr || name->empty() || TitleKey(name->substr(0, MAX_COMPARED_CHARS)) != wantedKey) continue;
        const size_t distance = EditDistance(key, fold(*name).substr(0, MAX_COMPARED_CHARS));
        if (distance >= bestDistance) continue;
        bestDistance = distance;
        choice.nIndex = i;
      }
    }
    if (choice.nIndex != std::wstring::npos) {
      choice.bNormalised = choice.bClose = true;
      choice.strForm = wantedKey;
      choice.vecSuggestions = {choice.nIndex};
      return choice;
    }
  }
  // Ranked by how well the typed text matches some stretch of a name (so
  // that the start of a long title finds it), then by the distance between
  // the whole texts (of equally good matches, the name with least beyond
  // the typed text wins), then by list order.
  struct SScore {
    size_t nSubstring, nWhole, nIndex;
    bool bSwap;  // one swapped pair of letters from the typed text
    bool operator<(const SScore& o) const {
      return std::tie(nSubstring, nWhole, nIndex) < std::tie(o.nSubstring, o.nWhole, o.nIndex);
    }
  };
  std::vector<SScore> scores;
  scores.reserve(titles.size());
  for (size_t i = 0; i < titles.size(); ++i) {
    SScore best{static_cast<size_t>(-1), static_cast<size_t>(-1), i, false};
    for (const std::wstring* name : {&titles[i], i < pageNames.size() ? &pageNames[i] : nullptr}) {
      if (name == nullptr || (name->empty() && name != &titles[i])) continue;
      std::wstring folded = fold(*name).substr(0, MAX_COMPARED_CHARS);
      SScore score{SubstringDistance(key, folded), EditDistance(key, folded), i, false};
      if (IsOneSwapApart(key, folded)) score = {1, 1, i, true};  // a swap is one slip, not two edits
      if (score < best) best = score;
    }
    scores.push_back(best);
  }
  if (scores.empty()) return choice;
  std::sort(scores.begin(), scores.end());
  choice.nIndex = scores.front().nIndex;
  const size_t allowed = key.size() / 5;
  choice.bClose = scores.front().bSwap || scores.front().nWhole <= allowed ||
                  (key.size() >= 4 && scores.front().nSubstring <= allowed);
  std::vector<std::wstring> seen;
  for (const SScore& score : scores) {
    if (choice.vecSuggestions.size() == MAX_SUGGESTIONS) break;
    std::wstring folded = fold(titles[score.nIndex]);
    if (std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
    seen.push_back(folded);
    choice.vecSuggestions.push_back(score.nIndex);
  }
  return choice;
}

}  // namespace cli

#include "cli/TitleMatch.h"

#include <algorithm>

#include "cli/TextConvert.h"

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

STitleChoice ChooseTitle(const std::vector<std::wstring>& titles, const std::wstring& wanted) {
  STitleChoice choice;
  const std::wstring key = FoldCase(TrimWide(wanted)).substr(0, MAX_COMPARED_CHARS);
  // Ranked by how well the typed text matches some stretch of the title (so
  // that the start of a long title finds it), then by the distance between
  // the whole texts (so that, of equally good matches, the title with least
  // beyond the typed text wins), then by list order.
  std::pair<size_t, size_t> best(static_cast<size_t>(-1), static_cast<size_t>(-1));
  for (size_t i = 0; i < titles.size(); ++i) {
    const std::wstring& title = titles[i];
    std::wstring folded = FoldCase(TrimWide(title.substr(0, MAX_COMPARED_CHARS + 64)));
    if (folded.size() <= MAX_COMPARED_CHARS && folded == key) {
      choice.nIndex = i;
      choice.bExact = true;
      return choice;
    }
    folded = folded.substr(0, MAX_COMPARED_CHARS);
    std::pair<size_t, size_t> score(SubstringDistance(key, folded), EditDistance(key, folded));
    if (score < best) {
      best = score;
      choice.nIndex = i;
    }
  }
  return choice;
}

}  // namespace cli

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

STitleChoice ChooseTitle(const std::vector<std::wstring>& titles, const std::wstring& wanted) {
  STitleChoice choice;
  const std::wstring key = FoldCase(TrimWide(wanted)).substr(0, MAX_COMPARED_CHARS);
  size_t best = static_cast<size_t>(-1);
  for (size_t i = 0; i < titles.size(); ++i) {
    const std::wstring& title = titles[i];
    std::wstring folded = FoldCase(TrimWide(title.substr(0, MAX_COMPARED_CHARS + 64)));
    if (folded.size() <= MAX_COMPARED_CHARS && folded == key) {
      choice.nIndex = i;
      choice.bExact = true;
      return choice;
    }
    size_t d = EditDistance(key, folded.substr(0, MAX_COMPARED_CHARS));
    if (d < best) {
      best = d;
      choice.nIndex = i;
    }
  }
  return choice;
}

}  // namespace cli

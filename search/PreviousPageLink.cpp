// Why one pass finds the regex's first match: in
//   <a href="  ([^"]+)  "  [^>]*  >previous 200</a>
// neither class can give back characters usefully. The link group runs
// from the quote of 'href="' (at a) to the very next quote (at b, with at
// least one character between), and "[^>]*" runs from there to the very
// next '>', which must open ">previous 200</a>". So a start p = a - 8
// matches exactly when the next quote after a comes after the last '>'
// before that '>previous 200</a>'. Walking the page once, remembering the
// last quote and the earliest valid start since the last '>', finds the
// leftmost such start, which is the match the regex engine reports.
#include "search/PreviousPageLink.h"

#include <cstring>

#include "text/RegexMatcher.h"

const wchar_t PREVIOUS_PAGE_PATTERN[] = L"<a href=\"([^\"]+)\"[^>]*>previous 200</a>";

namespace {
const wchar_t LINK_OPENING[] = L"<a href=\"";       // up to and including the quote
const wchar_t LINK_CLOSING[] = L">previous 200</a>";
}  // namespace

bool LocatePreviousPageLink(const std::wstring& page, size_t& begin, size_t& end) {
  static const size_t openingLength = std::wcslen(LINK_OPENING);
  static const size_t closingLength = std::wcslen(LINK_CLOSING);
  const size_t none = std::wstring::npos;
  size_t lastQuote = none;
  size_t start = none;  // earliest valid start whose link ends after the last '>'
  for (size_t i = 0; i < page.size(); ++i) {
    const wchar_t c = page[i];
    if (c == L'"') {
      // The link would run from lastQuote + 1 to i.
      if (start == none && lastQuote != none && lastQuote + 1 < i && lastQuote + 1 >= openingLength &&
          page.compare(lastQuote + 1 - openingLength, openingLength, LINK_OPENING) == 0)
        start = lastQuote + 1 - openingLength;
      lastQuote = i;
    } else if (c == L'>') {
      if (start != none && page.compare(i, closingLength, LINK_CLOSING) == 0) {
        begin = start;
        end = i + closingLength;
        return true;
      }
      start = none;  // every pending start's "[^>]*" ends here without a match
    }
  }
  return false;
}

bool FindPreviousPageLink(const std::wstring& page, std::wstring& link) {
  // An empty page still goes to the matcher, which reports it.
  std::wstring window;
  if (!page.empty()) {
    size_t begin = 0, end = 0;
    if (!LocatePreviousPageLink(page, begin, end)) return false;
    window = page.substr(begin, end - begin);
  }
  CRegexMatcher matcher;
  return matcher.InitAndFindNext(window, PREVIOUS_PAGE_PATTERN, true) && matcher.GetMatch(1, link);
}

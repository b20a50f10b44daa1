// Picks the song a user meant by a title typed on the command line.
//
// A title that equals a listed title after trimming and case folding wins
// (the first such one in list order). Otherwise the listed title with the
// smallest edit distance to the typed one is taken (ties: the earliest), and
// the caller tells the user which title it used.
//
// Work is bounded: titles are compared on their first MAX_COMPARED_CHARS
// characters, so a hostile song list costs at most linear time in its length.
// Failure: an empty list yields npos. Threads: pure function.
#ifndef VERSEWELL_CLI_TITLE_MATCH_H
#define VERSEWELL_CLI_TITLE_MATCH_H

#include <string>
#include <vector>

namespace cli {

constexpr size_t MAX_COMPARED_CHARS = 200;

struct STitleChoice {
  size_t nIndex = std::wstring::npos;  // npos when the list is empty
  bool bExact = false;
};

STitleChoice ChooseTitle(const std::vector<std::wstring>& titles, const std::wstring& wanted);

// Levenshtein distance with unit costs (exposed for tests).
size_t EditDistance(const std::wstring& a, const std::wstring& b);
// The smallest edit distance between `key` and any stretch of `text`.
size_t SubstringDistance(const std::wstring& key, const std::wstring& text);

}  // namespace cli

#endif  // VERSEWELL_CLI_TITLE_MATCH_H

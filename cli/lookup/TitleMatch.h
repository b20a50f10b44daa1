// Picks the song a user meant by a title typed on the command line.
//
// Each listed song is known by two names: its title in the list and its
// page's own name (the song page address after "Artist:", with "_" as a
// blank and percent escapes decoded), which carries the wiki's qualifier
// ("Salt Road (1998)"). A typed title equal to either, after trimming and
// case folding, is an exact match (the first in list order wins). Next, a
// typed title whose normalised form (TitleKey: no featured artist, no
// "(Live)" or " - Remastered" suffix, "&" as "and", accents and case
// folded) equals a name's is a normalised match. Otherwise every song is ranked by how well the typed text matches some
// stretch of one of its names, then by the distance between the whole
// texts, then by list order. The best is "close" when the distance is at
// most one edit in five characters of the typed text (a typed text of four
// or more characters found inside a name with that many edits counts too);
// otherwise it is only the closest. A typed text that differs from a name
// only by one swapped pair of neighbouring letters is close too.
//
// Work is bounded: names are compared on their first MAX_COMPARED_CHARS
// characters, so a hostile song list costs at most linear time in its length.
// Failure: an empty list yields npos. Threads: pure functions.
#ifndef VERSEWELL_CLI_TITLE_MATCH_H
#define VERSEWELL_CLI_TITLE_MATCH_H

#include <string>
#include <vector>

namespace cli {

constexpr size_t MAX_COMPARED_CHARS = 200;
constexpr size_t MAX_SUGGESTIONS = 3;

struct STitleChoice {
  size_t nIndex = std::wstring::npos;  // the best song; npos when the list is empty
  bool bExact = false;
  bool bNormalised = false;            // equal once both were normalised (TitleKey)
  std::wstring strForm;                // then: the normalised form that matched
  bool bClose = false;                 // exact, normalised, or close enough to take without --closest
  std::vector<size_t> vecSuggestions;  // the best few songs, best first, distinct names
};

// `titles` and `pageNames` run in parallel (a page name may be empty).
STitleChoice ChooseTitle(const std::vector<std::wstring>& titles, const std::vector<std::wstring>& pageNames,
                         const std::wstring& wanted);

// The page's own name of a song or artist page address: the last path
// segment, percent escapes decoded, "_" turned into a blank; for a song page
// the part after the first ":" when `afterColon`, else the part before it.
std::wstring PageName(const std::wstring& url);
std::wstring PageArtist(const std::wstring& url);

// Levenshtein distance with unit costs (exposed for tests).
size_t EditDistance(const std::wstring& a, const std::wstring& b);
// The smallest edit distance between `key` and any stretch of `text`.
size_t SubstringDistance(const std::wstring& key, const std::wstring& text);

}  // namespace cli

#endif  // VERSEWELL_CLI_TITLE_MATCH_H

// Close artist names for an "artist not found" message, taken from the
// artist cache: the plug-in writes every title of every index page it reads
// there (one "<letter>.ARTISTCACHE" file per leading letter, one "[name]"
// section per title, UTF-16LE with a byte-order mark or UTF-8, names
// escaped as "\uXXXX" where a character would break the line).
//
// Names are ranked with the plug-in's own artist name distance, so the
// message can say which --max-diff would have accepted the best one.
//
// Work is linear in the cache files of one letter. Failure: an unreadable
// or missing cache yields no suggestion. Threads: any; reads files only.
#ifndef VERSEWELL_CLI_ARTIST_SUGGESTIONS_H
#define VERSEWELL_CLI_ARTIST_SUGGESTIONS_H

#include <string>
#include <vector>

namespace cli {

constexpr size_t MAX_ARTIST_SUGGESTIONS = 3;

struct SArtistSuggestion {
  std::wstring strName;
  float fDistance = 0;  // the plug-in's artist name distance from the typed name
};

// The section names of one cache file's bytes, in file order.
std::vector<std::wstring> CacheFileNames(const std::string& bytes);

// Up to MAX_ARTIST_SUGGESTIONS names from `names` closest to `artist`,
// closest first, leaving out names too far off to be a slip of the pen.
std::vector<SArtistSuggestion> RankArtists(const std::wstring& artist, const std::vector<std::wstring>& names);

// RankArtists over the cache files of `artist`'s leading letter below
// `cacheFolder` (empty: none).
std::vector<SArtistSuggestion> SuggestArtists(const std::wstring& artist, const std::wstring& cacheFolder);

// The --max-diff value that would accept a name at `distance`: the plug-in
// accepts distances strictly below it.
std::string AcceptingMaxDiff(float distance);

}  // namespace cli

#endif  // VERSEWELL_CLI_ARTIST_SUGGESTIONS_H

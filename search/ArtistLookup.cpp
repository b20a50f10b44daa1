// search::FindArtistUrl: the artist page address, from the local cache
// or from the wiki's alphabetical artist index.
//
// The index is read in at most two passes: the category page listed from
// the artist's own name, then the page before it (its "previous 200" link).
// Every title is compared with the wanted name; the closest one strictly
// below the host's threshold wins, an exact match ends the search at once,
// and every other title seen on the way goes into the cache, in page order.
// The titles of a page are queued and written as one batch per cache file
// when the page is done: before the next download and on every way out.
#include <new>
#include <string>

#include "diag/TraceLog.h"
#include "search/ArtistNameMatcher.h"
#include "search/LocalCache.h"
#include "search/PreviousPageLink.h"
#include "search/Searches.h"
#include "text/HtmlEntities.h"
#include "text/RegexMatcher.h"

namespace {

const wchar_t INDEX_PATH_PREFIX[] = L"/index.php?title=Category:Artists_";
const wchar_t INDEX_PATH_FROM[] = L"&from=";
// One index entry: group 1 the link, group 2 the title attribute.
const wchar_t INDEX_ENTRY_PATTERN[] = L"<li>[^<]*<a href=\"([^\"]+)\" title=\"([^\"]+)\">[^<]+</a>";
const wchar_t DIGIT_LEADING_CHAR = L'0';
const int INDEX_PASSES = 2;

// Writes the titles queued in the cache when the lookup leaves, whichever
// way it leaves.
class CQueuedWritesFlush {
 public:
  explicit CQueuedWritesFlush(CLocalCache* cache) : m_pCache(cache) {}
  ~CQueuedWritesFlush() {
    if (m_pCache == nullptr) return;
    try {
      m_pCache->FlushArtistUrls();
    } catch (const std::bad_alloc&) {
      // Leaving by an exception already; the cache's destructor tries again.
    }
  }
  CQueuedWritesFlush(const CQueuedWritesFlush&) = delete;
  CQueuedWritesFlush& operator=(const CQueuedWritesFlush&) = delete;
  void Flush() {
    if (m_pCache != nullptr) m_pCache->FlushArtistUrls();
  }

 private:
  CLocalCache* m_pCache;
};

}  // namespace

namespace search {

BOOL FindArtistUrl(ISearchContext& context, const CString& artist, CString& artistUrl) {
  CLocalCache* const cache = context.ArtistCache();
  wchar_t leading = 0;
  if (!GetLeadingChar(artist.GetString(), leading, DIGIT_LEADING_CHAR, false)) return 0;

  float threshold = 1.0f;
  context.AskMaxMatchDifference(threshold);

  if (cache != nullptr && cache->ReadArtistUrl(artist, artistUrl, threshold)) {
    CString line = L"ArtistUrl found in local cache. ";
    line += artist.GetString();
    line += L", ";
    line += artistUrl;
    g_TraceLog.Log(TRACE_INFO, line);
    return 1;
  }

  // The name goes into the path as the host wrote it, neither trimmed nor
  // escaped; only blanks become '+' below.
  CString path = INDEX_PATH_PREFIX;
  path += leading;
  path += INDEX_PATH_FROM;
  path += artist.GetString();

  // The result reports what this call found. A caller that passes a
  // non-empty address gets 0 back, not 1 for its own stale text, when no
  // title is close enough.
  bool found = false;
  bool exactMatch = false;
  CQueuedWritesFlush flush(cache);
  for (int pass = 0; pass < INDEX_PASSES; ++pass) {
    path.Replace(L' ', L'+');
    flush.Flush();  // the first page's titles are on disk before the second download
    CString page;
    if (!context.Download(context.SiteHost() + path, page)) return 0;

    CArtistNameMatcher nameMatcher;
    CRegexMatcher entries;
    entries.Init(page.Str(), INDEX_ENTRY_PATTERN, true);
    while (entries.FindNext()) {
      if (context.IsStopRequested()) return 0;
      std::wstring link, title;
      entries.GetMatch(1, link);
      entries.GetMatch(2, title);
      DecodeHtmlEntities(title, context.Reports());
      const float distance = nameMatcher.GetDistance(artist.GetString(), title.c_str());
      const CString url = context.SiteHost() + CString(link);
      if (distance < threshold) {
        threshold = distance;
        artistUrl = url;
        found = true;
        if (distance == 0.0f) {
          exactMatch = true;  // the exact match itself is not cached
          break;
        }
      }
      if (cache != nullptr) cache->QueueArtistUrl(CString(title), url);
    }
    if (exactMatch) break;

    if (pass == 0) {
      // Without a "previous 200" link the path stays, and the second pass
      // reads the same page again.
      std::wstring link;
      if (FindPreviousPageLink(page.Str(), link)) {
        DecodeHtmlEntities(link, context.Reports());
        path = link;
      }
    }
  }
  return found && !artistUrl.IsEmpty() ? 1 : 0;
}

}  // namespace search

// search::FindArtistSongList: the songs listed on an artist's wiki page,
// as SongListEntry records in the host's list.
//
// The host's list is left alone until the artist page has been downloaded;
// then it is cleared and every bold song link of the page is appended, in
// page order, without filtering or merging.
#include <string>

#include "diag/TraceLog.h"
#include "search/Searches.h"
#include "text/HtmlEntities.h"
#include "text/RegexMatcher.h"

namespace {

// One song entry: group 1 the song page's link, group 2 the link text.
const wchar_t SONG_ENTRY_PATTERN[] = L"<li> <b><a href=\"([^\"]+)\" title=\"[^\"]+\">([^<]+)</a></b>";
const wchar_t TITLE_SUFFIX[] = L" lyrics";
const wchar_t NO_ARTIST_URL[] = L"FindArtistSongList():Can not find artistUrl for: ";
const wchar_t NO_SONGS[] = L"FindArtistSongList():Can not find any Lyrics for: ";

}  // namespace

namespace search {

int FindArtistSongList(ISearchContext& context, const CString& artist, std::list<SongListEntry>& songs) {
  CString artistUrl;
  if (!context.FindArtistUrl(artist, artistUrl)) {
    g_TraceLog.Log(TRACE_WARNING, CString(NO_ARTIST_URL) + artist);
    return 0;
  }
  CString page;
  if (!context.Download(artistUrl, page)) return 0;

  songs.clear();
  CRegexMatcher matcher;
  matcher.Init(page.Str(), SONG_ENTRY_PATTERN, true);
  while (matcher.FindNext()) {
    if (context.IsStopRequested()) return 0;  // what was appended so far stays
    std::wstring link, text;
    matcher.GetMatch(1, link);
    matcher.GetMatch(2, text);
    CString title(text);
    DecodeHtmlEntities(title, context.Reports());
    title.Replace(TITLE_SUFFIX, L"");  // after decoding, every occurrence, one pass

    SongEntry song(title.Str(), artist.Str(), std::wstring(), false);
    song.Url = (context.SiteHost() + CString(link)).Str();
    SongListEntry entry(song);
    entry.Extra2.clear();
    entry.SourceName = context.SourceName().Str();
    entry.SourceId = context.SourceId().Str();
    songs.push_back(entry);
  }
  if (songs.empty()) g_TraceLog.Log(TRACE_WARNING, CString(NO_SONGS) + artist);
  return static_cast<int>(songs.size());
}

}  // namespace search

// The three searches of the plug-in, run against an ISearchContext:
//
// FindArtistUrl       the artist page address, from the cache or the wiki's
//                     alphabetical artist index (search/ArtistLookup.cpp);
// FindArtistSongList  the songs on the artist's page (search/SongList.cpp);
// GetLyrics           the lyrics of a song page (search/LyricsPage.cpp).
//
// Results are the host slots' results (1/0, the number of songs). They may
// raise (allocation, conversion): the plug-in's slots are the boundary
// that keeps exceptions from the host (plugin/SearchBoundary.cpp).
// Threads: one search at a time per context.
#ifndef VERSEWELL_SEARCH_SEARCHES_H
#define VERSEWELL_SEARCH_SEARCHES_H

#include <list>

#include <versewell/plugin.h>

#include "search/SearchContext.h"

namespace search {

BOOL FindArtistUrl(ISearchContext& context, const CString& artist, CString& artistUrl);
int FindArtistSongList(ISearchContext& context, const CString& artist, std::list<SongListEntry>& songs);
BOOL GetLyrics(ISearchContext& context, const CString& songUrl, CString& lyrics);

}  // namespace search

#endif  // VERSEWELL_SEARCH_SEARCHES_H

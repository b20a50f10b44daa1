// PLACEHOLDER until the search operations land: every search fails.
#include "plugin/Versewell.h"

BOOL CVersewell::FindArtistUrl(const CString&, CString&) { return 0; }
int CVersewell::FindArtistSongList(const CString&, std::list<SongListEntry>&) { return 0; }
BOOL CVersewell::GetLyrics(const CString&, CString& lyrics) {
  lyrics.Empty();
  return 0;
}

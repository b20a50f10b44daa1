// The boundary between the host and the three searches: whatever a search
// raises underneath ends there as the search's failure result plus one trace
// line, never as an exception in the host.
#include <string>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "plugin/BoundaryGuard.h"
#include "plugin/Versewell.h"

void LogStopped(const wchar_t* origin, const char* what) noexcept {
  try {
    std::wstring message(origin);
    message += L"(): stopped by an exception: ";
    for (const char* p = what; *p != '\0'; ++p) message += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    g_TraceLog.Log(TRACE_ERROR, message.c_str());
  } catch (...) {
  }
}

BOOL CVersewell::FindArtistUrl(const CString& artist, CString& artistUrl) {
  return Guarded<BOOL>(L"FindArtistUrl", 0, [&] { return FindArtistUrlUnguarded(artist, artistUrl); });
}

int CVersewell::FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) {
  return Guarded<int>(L"FindArtistSongList", 0, [&] { return FindArtistSongListUnguarded(artist, songs); });
}

BOOL CVersewell::GetLyrics(const CString& songUrl, CString& lyrics) {
  bool finished = false;
  const BOOL found = Guarded<BOOL>(L"GetLyrics", 0, [&] {
    const BOOL result = GetLyricsUnguarded(songUrl, lyrics);
    finished = true;
    return result;
  });
  if (!finished) lyrics.Empty();  // no half-cleaned text after an exception
  return found;
}

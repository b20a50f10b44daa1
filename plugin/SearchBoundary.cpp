// The boundary between the host and the three searches: whatever a search
// raises underneath ends there as the search's failure result plus one trace
// line, never as an exception in the host.
#include <exception>
#include <string>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "plugin/Versewell.h"

namespace {

// Writes "<origin>(): stopped by an exception: <what>" at TRACE_ERROR. When
// even that cannot be composed (memory exhausted), the result alone reports
// the failure.
void LogStopped(const wchar_t* origin, const char* what) noexcept {
  try {
    std::wstring message(origin);
    message += L"(): stopped by an exception: ";
    for (const char* p = what; *p != '\0'; ++p) message += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    g_TraceLog.Log(TRACE_ERROR, message.c_str());
  } catch (...) {
  }
}

template <typename Result, typename Search>
Result Guarded(const wchar_t* origin, Result failure, Search&& search) noexcept {
  try {
    return search();
  } catch (const std::exception& e) {
    LogStopped(origin, e.what());
  } catch (...) {
    LogStopped(origin, "unknown exception");
  }
  return failure;
}

}  // namespace

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

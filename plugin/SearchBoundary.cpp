// The boundary between the host and the three searches: the slots run the
// searches of search/ against the object's search context, and whatever a
// search raises underneath ends there as the search's failure result plus
// one trace line, never as an exception in the host.
#include <string>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "plugin/BoundaryGuard.h"
#include "plugin/Versewell.h"
#include "search/Searches.h"

void LogStopped(const wchar_t* origin, const char* what) noexcept {
  try {
    std::wstring message(origin);
    message += L"(): stopped by an exception: ";
    for (const char* p = what; *p != '\0'; ++p) message += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    g_TraceLog.Log(TRACE_ERROR, message.c_str());
  } catch (...) {
  }
}

// The plug-in object's download, stop question, cache, site host and host
// values, as the searches ask for them. Borrows the object for one call.
class CVersewell::CSearchContext : public ISearchContext {
 public:
  explicit CSearchContext(CVersewell& plugin) : m_plugin(plugin) {}

  BOOL Download(const CString& url, CString& page) override { return m_plugin.Download(url, page); }
  bool IsStopRequested() override { return m_plugin.IsStopRequested(); }
  CLocalCache* ArtistCache() override { return m_plugin.m_pArtistCache; }
  const CString& SiteHost() const override { return m_plugin.m_strSiteHost; }
  void AskMaxMatchDifference(float& threshold) override {
    if (m_plugin.m_pHostCallback != nullptr) m_plugin.m_pHostCallback->GetHostValue(L"MaxMatchDifference", &threshold);
  }
  const CString& SourceName() const override { return m_plugin.m_strSourceName; }
  const CString& SourceId() const override { return m_plugin.SourceId(); }
  BOOL FindArtistUrl(const CString& artist, CString& artistUrl) override {
    return m_plugin.FindArtistUrl(artist, artistUrl);
  }
  ITextReportSink& Reports() override { return TraceLogReports(); }

 private:
  CVersewell& m_plugin;
};

BOOL CVersewell::FindArtistUrl(const CString& artist, CString& artistUrl) {
  return Guarded<BOOL>(L"FindArtistUrl", 0, [&] {
    CSearchContext context(*this);
    return search::FindArtistUrl(context, artist, artistUrl);
  });
}

int CVersewell::FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) {
  return Guarded<int>(L"FindArtistSongList", 0, [&] {
    CSearchContext context(*this);
    return search::FindArtistSongList(context, artist, songs);
  });
}

BOOL CVersewell::GetLyrics(const CString& songUrl, CString& lyrics) {
  bool finished = false;
  const BOOL found = Guarded<BOOL>(L"GetLyrics", 0, [&] {
    CSearchContext context(*this);
    const BOOL result = search::GetLyrics(context, songUrl, lyrics);
    finished = true;
    return result;
  });
  if (!finished) lyrics.Empty();  // no half-cleaned text after an exception
  return found;
}

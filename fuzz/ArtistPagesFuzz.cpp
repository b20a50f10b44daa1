// The artist index and the artist page through a scripted transport:
// FindArtistUrl with an artist cache in a temporary folder, then
// FindArtistSongList. Input: one byte that picks the artist name and the
// threshold, then the index page text, then (after a line "====") the
// artist page text; without that line both pages are the same text. Every
// index page request gets the index text, every other request the artist
// page.
//
// Properties: FindArtistUrl answers 1 only with an address, 0 with one only
// after a failed download, and that address is the site host followed by the page's link; the song count is
// the length of the list; every entry carries the artist name as given and
// an address on the site; the cache file stays readable, and every section
// in it reads back an address on the site.
#include <filesystem>
#include <list>

#include "FuzzSupport.h"
#include "plugin/SiteHost.h"
#include "search/LocalCache.h"
#include "support/TempDir.h"

namespace {

class CRoutingTransport : public CFakeHttpTransport {
 public:
  std::string indexPage;
  std::string artistPage;

  platform::HINTERNET OpenRequest(platform::HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                                  const wchar_t* referrer, DWORD flags) override {
    const bool index = objectName != nullptr && std::wstring(objectName).rfind(L"index.php", 0) == 0;
    response.chunks.assign(1, index ? indexPage : artistPage);
    return CFakeHttpTransport::OpenRequest(connect, verb, objectName, referrer, flags);
  }
};

class CCacheProbe : public CVersewell {
 public:
  CLocalCache* Cache() const { return m_pArtistCache; }
};

const wchar_t* const ARTISTS[] = {L"Quillfeather", L"quillfeather", L"Abba", L"2 Tone", L"Sorrel Lane (UK)",
                                  L"A", L"Zz"};

bool OnSite(const std::wstring& url) {
  const std::wstring host = VERSEWELL_SITE_HOST_W;
  // The link is taken as the page writes it, so only the host is sure.
  return url.size() > host.size() && url.compare(0, host.size(), host) == 0;
}

unsigned FailedDownloads(CVersewell* plugin) {
  unsigned attempts = 0, successes = 0;
  plugin->GetProperty(CString(L"StatisticDownloadCounter"), &attempts);
  plugin->GetProperty(CString(L"StatisticSuccessfulDownloads"), &successes);
  return attempts - successes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CRoutingTransport* s_transport = new CRoutingTransport();
  static CCacheProbe* s_probe = new CCacheProbe();
  static CFuzzPlugin s_fuzz(s_transport, s_probe);
  static CTempDir* s_cacheDir = [] {
    CTempDir* dir = new CTempDir();
    CString folder = dir->WPath().c_str();
    s_fuzz.pPlugin->SetProperty(CString(L"LocalCacheFolder"), &folder);
    return dir;
  }();
  if (size == 0) return 0;
  const wchar_t* artist = ARTISTS[data[0] % (sizeof(ARTISTS) / sizeof(ARTISTS[0]))];
  s_fuzz.pHost->hasMaxDiff = (data[0] & 0x80) != 0;
  s_fuzz.pHost->maxDiff = 250.0f;  // lets near names through, so candidates get chosen
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t cut = text.find("\n====\n");
  s_transport->indexPage = cut == std::string::npos ? text : text.substr(0, cut);
  s_transport->artistPage = cut == std::string::npos ? text : text.substr(cut + 6);

  // A fresh cache for every input: the files of earlier inputs would make
  // each run slower than the last.
  std::error_code ignored;
  std::filesystem::remove_all(s_cacheDir->Path() + "/Versewell", ignored);

  const unsigned failedBefore = FailedDownloads(s_fuzz.pPlugin);
  CString url;
  const BOOL found = s_fuzz.pPlugin->FindArtistUrl(CString(artist), url);
  FuzzCheck(found == 0 || found == 1, "FindArtistUrl: a BOOL");
  if (found) FuzzCheck(!url.IsEmpty(), "FindArtistUrl: 1 only with an address");
  // An address without success only when the second download failed (the
  // "previous 200" link may name a path the downloader refuses).
  if (!found && !url.IsEmpty())
    FuzzCheck(FailedDownloads(s_fuzz.pPlugin) > failedBefore, "FindArtistUrl: 0 with an address only after a failed download");
  if (found) FuzzCheck(OnSite(url.Str()), "FindArtistUrl: the address is on the site");

  CLocalCache* cache = s_probe->Cache();
  CString file;
  if (cache != nullptr && cache->GetCacheFileName(CString(artist), file)) {
    std::list<std::wstring> names;
    cache->ReadSectionNames(file, names);
    for (const std::wstring& name : names) {
      if (name.empty()) continue;
      CString cached;
      FuzzCheck(cache->ReadArtistUrl(CString(name.c_str()), cached, 0.0f), "a cached title reads back");
      FuzzCheck(OnSite(cached.Str()), "a cached address is on the site");
    }
  }

  std::list<SongListEntry> songs;
  songs.push_back(SongListEntry());
  const int count = s_fuzz.pPlugin->FindArtistSongList(CString(artist), songs);
  FuzzCheck(count >= 0, "FindArtistSongList: no negative count");
  if (count > 0) FuzzCheck(static_cast<size_t>(count) == songs.size(), "the count is the list length");
  if (count > 0) {
    for (const SongListEntry& song : songs) {
      FuzzCheck(song.Artist == artist, "each entry carries the artist as given");
      FuzzCheck(OnSite(song.Url), "each entry's address is on the site");
    }
  }
  return 0;
}

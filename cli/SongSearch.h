// One song, from an artist name and a title to its lyrics, through one
// plug-in object: the song search that `batch` and `library` run on every
// worker thread.
//
//   1. The artist's song list, from the run's CArtistListCache: the first
//      worker that needs an artist calls FindArtistSongList (the artist
//      lookup and the artist page); every later song of that artist, on any
//      worker, reuses the result.
//   2. The title: an entry whose title, or whose page name (the address
//      after "Artist:", with "_" as blanks), equals the wanted title after
//      trimming and case folding; page names win, so "Salt Road (1998)"
//      picks its own page. Nothing equal: not found, unless `bClosest`, which
//      takes the closest title (ChooseTitle).
//   3. GetLyrics on the entry's address.
// A failed download is a network failure; it is tried again up to
// `nRetries` times, waiting 0.5 s, 1 s, 2 s ... with +-25 % jitter. A stop
// request ends the song as interrupted.
//
// Ownership: the searcher borrows the plug-in object and the cache.
// Threads: a CSongSearcher is used by one thread; the cache by all.
#ifndef VERSEWELL_CLI_SONG_SEARCH_H
#define VERSEWELL_CLI_SONG_SEARCH_H

#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <versewell/plugin.h>

namespace cli {

// Skipped: the caller's check before the lyrics download declined the song.
enum class EOutcome { Found, NotFound, Network, Interrupted, Skipped };

// "found", "not_found", "network", "interrupted", "skipped".
const char* OutcomeName(EOutcome outcome);

struct SArtistSongs {
  EOutcome eOutcome = EOutcome::NotFound;
  std::string strMessage;  // why, when not found
  std::string strUrl;      // the address that failed, for network failures
  std::list<SongListEntry> songs;
};

class CArtistListCache {
 public:
  // The songs of `artist`. The first caller for an artist (compared after
  // trimming and case folding) runs `fetch` and stores its result; callers
  // for the same artist meanwhile wait for it. A result that is Interrupted
  // is not stored, so nothing waits on an artist nobody is fetching.
  template <typename Fetch>
  std::shared_ptr<const SArtistSongs> Get(const std::wstring& artist, Fetch fetch);

 private:
  struct SSlot {
    bool bReady = false;
    std::shared_ptr<const SArtistSongs> result;
  };
  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::map<std::wstring, std::shared_ptr<SSlot>> m_mapSlots;
};

struct SSearchOptions {
  bool bClosest = false;
  unsigned nRetries = 2;
};

struct SSongResult {
  EOutcome eOutcome = EOutcome::NotFound;
  std::string strMessage;  // one line, for failures
  std::string strUrl;      // the song page (found) or the failed address
  std::wstring strSiteUrl;  // the song page as the plug-in lists it
  std::wstring strListTitle;
  std::wstring strWikiArtist;  // from the address: "_" as blank, escapes decoded
  std::string strMatch;        // "exact" or "closest"
  std::wstring strLyrics;      // the plug-in's text, CR LF line ends
};

// Downloads made by one searcher, by kind.
struct SDownloadCounts {
  unsigned nLookupsAndLists = 0;  // FindArtistSongList: index pages and artist pages
  unsigned nLists = 0;            // of which artist pages
  unsigned nLyrics = 0;
  unsigned nFailed = 0;
};

class CSongSearcher {
 public:
  CSongSearcher(CLyricsDllInterface& plugin, CArtistListCache& cache, SSearchOptions options);
  // `check` (may be empty) sees the chosen song before its lyrics are
  // downloaded; a non-empty answer skips the song with that reason.
  SSongResult Find(const std::wstring& artist, const std::wstring& title,
                   const std::function<std::string(const SSongResult&)>& check = nullptr);
  const SDownloadCounts& Counts() const { return m_counts; }

 private:
  SArtistSongs FetchSongs(const std::wstring& artist);
  bool WaitBeforeRetry(unsigned attempt);
  unsigned Downloads(unsigned* successful);

  CLyricsDllInterface& m_plugin;
  CArtistListCache& m_cache;
  SSearchOptions m_options;
  SDownloadCounts m_counts;
  unsigned m_nSeed;
};

// "http://" + the site address, without control characters.
std::string DisplayAddress(const std::wstring& siteAddress);

template <typename Fetch>
std::shared_ptr<const SArtistSongs> CArtistListCache::Get(const std::wstring& key, Fetch fetch) {
  std::shared_ptr<SSlot> slot;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_mapSlots.find(key);
    if (it != m_mapSlots.end()) {
      slot = it->second;
      m_ready.wait(lock, [&] { return slot->bReady; });
      if (slot->result) return slot->result;
    }
    slot = std::make_shared<SSlot>();
    m_mapSlots[key] = slot;
  }
  std::shared_ptr<const SArtistSongs> result;
  try {
    result = std::make_shared<const SArtistSongs>(fetch());
  } catch (...) {
    std::lock_guard<std::mutex> lock(m_mutex);
    slot->bReady = true;
    m_mapSlots.erase(key);
    m_ready.notify_all();
    throw;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  slot->bReady = true;
  if (result->eOutcome != EOutcome::Interrupted)
    slot->result = result;
  else
    m_mapSlots.erase(key);
  m_ready.notify_all();
  return result;
}

}  // namespace cli

#endif  // VERSEWELL_CLI_SONG_SEARCH_H

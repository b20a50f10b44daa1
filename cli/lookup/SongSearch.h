// One song of a batch or library run, on one worker: the run's shared
// song-list cache in front of the single-song pipeline (CSongLookup).
//
//   1. The artist's song list comes from the run's CArtistListCache: the
//      first worker that needs an artist calls FindArtistSongList once (the
//      artist lookup and the artist page); every later song of that artist,
//      on any worker, reuses the result, so downloads are artist lookups +
//      song lists + lyrics pages and nothing more.
//   2. The title is chosen as `lyrics ARTIST TITLE` chooses it (strictly, or
//      the closest with --closest).
//   3. An optional check may skip the song before its lyrics are fetched
//      (a file saved before); otherwise the lyrics are fetched.
// Failures are classified, retried and described by CSongLookup.
//
// Ownership: the searcher borrows the lookup and the cache.
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

#include "cli/lookup/SongLookup.h"

namespace cli {

struct SArtistSongs {
  EOutcome eOutcome = EOutcome::NotFound;
  SFailure failure;
  std::list<SongListEntry> songs;
  std::wstring strArtistForm;  // the normalised artist name that was found; empty: as typed
};

class CArtistListCache {
 public:
  // The songs of an artist, by `key` (the name trimmed and case-folded).
  // The first caller for a key runs `fetch` and stores its result; callers
  // for the same key meanwhile wait for it. An Interrupted result is not
  // stored, so nothing ever waits on an artist nobody is fetching.
  template <typename Fetch>
  std::shared_ptr<const SArtistSongs> Get(const std::wstring& key, Fetch fetch);

 private:
  struct SSlot {
    bool bReady = false;
    std::shared_ptr<const SArtistSongs> result;
  };
  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::map<std::wstring, std::shared_ptr<SSlot>> m_mapSlots;
};

struct SSongResult {
  EOutcome eOutcome = EOutcome::NotFound;
  bool bSkipped = false;       // the check declined the song (eOutcome is Found)
  std::string strSkipReason;
  SSong song;                  // the chosen song; strLyrics when found
  SFailure failure;            // when not found, on network failure or interrupted
  std::string strNote;         // a close title stood in for the typed one
};

// Downloads made by one searcher, by kind.
struct SDownloadCounts {
  unsigned nLookupsAndLists = 0;  // FindArtistSongList: index pages and artist pages
  unsigned nLists = 0;            // of which artist pages read
  unsigned nLyrics = 0;
  unsigned nFailed = 0;
};

class CSongSearcher {
 public:
  CSongSearcher(CSongLookup& lookup, CArtistListCache& cache) : m_lookup(lookup), m_cache(cache) {}

  // `check` (may be empty) sees the chosen song before its lyrics are
  // downloaded; a non-empty answer skips the song with that reason.
  SSongResult Find(const std::wstring& artist, const std::wstring& title,
                   const std::function<std::string(const SSongResult&)>& check = nullptr);
  const SDownloadCounts& Counts() const { return m_counts; }

 private:
  SArtistSongs FetchSongs(const std::wstring& artist);

  CSongLookup& m_lookup;
  CArtistListCache& m_cache;
  SDownloadCounts m_counts;
};

template <typename Fetch>
std::shared_ptr<const SArtistSongs> CArtistListCache::Get(const std::wstring& key, Fetch fetch) {
  std::shared_ptr<SSlot> slot;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_mapSlots.find(key);
    if (it != m_mapSlots.end()) {
      std::shared_ptr<SSlot> pending = it->second;
      m_ready.wait(lock, [&] { return pending->bReady; });
      if (pending->result) return pending->result;
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
  else if (m_mapSlots[key] == slot)
    m_mapSlots.erase(key);
  m_ready.notify_all();
  return result;
}

}  // namespace cli

#endif  // VERSEWELL_CLI_SONG_SEARCH_H

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

// The song pages of a run, by address, so that a page is fetched once per
// run however many lines of the list lead to it and however many workers
// run. The first worker to reach a page holds it until its song has been
// checked, fetched and delivered; a worker that reaches the same page
// meanwhile waits, then sees the page as the holder left it: its file saved
// (the check says so) or its lyrics kept here. Kept are found lyrics and a
// page without lyrics; after a network failure or a stop the next worker
// fetches the page itself. The lyrics kept are bounded by a budget of wide
// characters, so that a run over a large library does not keep every song's
// text until it ends: past the budget a found page is not kept, and a later
// line naming it fetches it again, as a run without the memo would.
// Threads: any number of workers at once.
class CSongPageMemo {
 public:
  static constexpr size_t MAX_KEPT_LYRICS_CHARS = 4u * 1024u * 1024u;

  explicit CSongPageMemo(size_t nMaxKeptChars = MAX_KEPT_LYRICS_CHARS) : m_nMaxKeptChars(nMaxKeptChars) {}

  struct SPage {
    EOutcome eOutcome = EOutcome::NotFound;
    std::wstring strLyrics;
    SFailure failure;
  };

  // Held while alive; movable, not copyable.
  class CHold {
   public:
    CHold(CSongPageMemo& memo, std::wstring url, std::shared_ptr<const SPage> page)
        : m_pMemo(&memo), m_strUrl(std::move(url)), m_page(std::move(page)) {}
    CHold(CHold&& other) noexcept
        : m_pMemo(other.m_pMemo), m_strUrl(std::move(other.m_strUrl)), m_page(std::move(other.m_page)) {
      other.m_pMemo = nullptr;
    }
    CHold& operator=(CHold&&) = delete;
    CHold(const CHold&) = delete;
    ~CHold() {
      if (m_pMemo != nullptr) m_pMemo->Release(m_strUrl);
    }
    // What an earlier holder kept; null when the page is still to be fetched.
    const SPage* Kept() const { return m_page.get(); }
    // Keeps what this holder fetched, for the next one (see above).
    void Keep(const SPage& page) {
      if (m_pMemo != nullptr) m_pMemo->Store(m_strUrl, page);
    }

   private:
    CSongPageMemo* m_pMemo;
    std::wstring m_strUrl;
    std::shared_ptr<const SPage> m_page;
  };

  // Waits while another worker holds `url`, then holds it.
  CHold Hold(const std::wstring& url);

 private:
  void Release(const std::wstring& url);
  void Store(const std::wstring& url, const SPage& page);

  std::mutex m_mutex;
  std::condition_variable m_released;
  std::map<std::wstring, bool> m_mapHeld;  // url -> held now
  std::map<std::wstring, std::shared_ptr<const SPage>> m_mapKept;
  const size_t m_nMaxKeptChars;
  size_t m_nKeptChars = 0;  // lyrics characters in m_mapKept
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
  // `pages` (may be null) is the run's memo of song pages.
  CSongSearcher(CSongLookup& lookup, CArtistListCache& cache, CSongPageMemo* pages = nullptr)
      : m_lookup(lookup), m_cache(cache), m_pPages(pages) {}

  // `check` (may be empty) sees the chosen song before its lyrics are
  // downloaded; a non-empty answer skips the song with that reason.
  // `deliver` (may be empty) gets a found song that was not skipped, before
  // Find returns and while its page is still held in the memo.
  SSongResult Find(const std::wstring& artist, const std::wstring& title,
                   const std::function<std::string(const SSongResult&)>& check = nullptr,
                   const std::function<void(const SSongResult&)>& deliver = nullptr);
  const SDownloadCounts& Counts() const { return m_counts; }

 private:
  SArtistSongs FetchSongs(const std::wstring& artist);

  CSongLookup& m_lookup;
  CArtistListCache& m_cache;
  CSongPageMemo* m_pPages;
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

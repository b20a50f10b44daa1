#include "cli/lookup/SongSearch.h"

#include <algorithm>
#include <optional>

#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

namespace cli {

SArtistSongs CSongSearcher::FetchSongs(const std::wstring& artist) {
  SArtistSongs result;
  SDownloadStats before = m_lookup.Stats();
  result.eOutcome = m_lookup.ListSongsOnce(artist, result.songs, result.failure);
  result.strArtistForm = m_lookup.LastArtistForm();
  SDownloadStats after = m_lookup.Stats();
  m_counts.nLookupsAndLists += after.nDownloads - before.nDownloads;
  m_counts.nFailed += (after.nDownloads - before.nDownloads) - (after.nSuccessful - before.nSuccessful);
  // The artist page was read when songs, or a page without songs, came back.
  if (result.eOutcome == EOutcome::Found || result.failure.bNoSongs) ++m_counts.nLists;
  return result;
}

CSongPageMemo::CHold CSongPageMemo::Hold(const std::wstring& url) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_released.wait(lock, [&] { return !m_mapHeld[url]; });
  m_mapHeld[url] = true;
  auto kept = m_mapKept.find(url);
  return CHold(*this, url, kept != m_mapKept.end() ? kept->second : nullptr);
}

void CSongPageMemo::Release(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_mapHeld[url] = false;
  m_released.notify_all();
}

void CSongPageMemo::Store(const std::wstring& url, const SPage& page) {
  if (page.eOutcome != EOutcome::Found && page.eOutcome != EOutcome::NotFound) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  std::shared_ptr<const SPage>& slot = m_mapKept[url];
  const size_t replaced = slot ? slot->strLyrics.size() : 0;
  const size_t others = m_nKeptChars - replaced;
  if (page.strLyrics.size() > m_nMaxKeptChars - std::min(others, m_nMaxKeptChars)) {
    // Over the budget: forget the page, so the next line fetches it.
    m_mapKept.erase(url);
    m_nKeptChars = others;
    return;
  }
  slot = std::make_shared<const SPage>(page);
  m_nKeptChars = others + page.strLyrics.size();
}

SSongResult CSongSearcher::Find(const std::wstring& artist, const std::wstring& title,
                                const std::function<std::string(const SSongResult&)>& check,
                                const std::function<void(const SSongResult&)>& deliver) {
  SSongResult result;
  // Fetched under the same name the run's cache files it under (blanks
  // around it removed): lines that share an entry must not get different
  // answers depending on which of them came first.
  const std::wstring trimmed = TrimWide(artist);
  std::shared_ptr<const SArtistSongs> songs = m_cache.Get(FoldCase(trimmed), [&] { return FetchSongs(trimmed); });
  result.song.strQuery = artist;
  if (songs->eOutcome != EOutcome::Found) {
    result.eOutcome = songs->eOutcome;
    result.failure = songs->failure;
    return result;
  }
  result.eOutcome = m_lookup.ChooseSong(artist, CSongLookup::ArtistPageOf(songs->songs.front().Url), songs->songs, title,
                                        result.song, result.strNote, result.failure);
  if (result.eOutcome != EOutcome::Found) return result;
  MarkArtistForm(result.song, songs->strArtistForm);
  std::optional<CSongPageMemo::CHold> hold;
  if (m_pPages != nullptr) hold.emplace(m_pPages->Hold(result.song.strUrl));
  if (check) {
    result.strSkipReason = check(result);
    if (!result.strSkipReason.empty()) {
      result.bSkipped = true;
      return result;
    }
  }
  if (hold && hold->Kept() != nullptr) {
    result.eOutcome = hold->Kept()->eOutcome;
    result.song.strLyrics = hold->Kept()->strLyrics;
    result.failure = hold->Kept()->failure;
  } else {
    SDownloadStats before = m_lookup.Stats();
    result.eOutcome = m_lookup.FetchLyrics(result.song.strUrl, result.song.strLyrics, result.failure);
    SDownloadStats after = m_lookup.Stats();
    m_counts.nLyrics += after.nDownloads - before.nDownloads;
    m_counts.nFailed += (after.nDownloads - before.nDownloads) - (after.nSuccessful - before.nSuccessful);
    if (hold) hold->Keep({result.eOutcome, result.song.strLyrics, result.failure});
  }
  if (deliver && result.eOutcome == EOutcome::Found) deliver(result);
  return result;
}

}  // namespace cli

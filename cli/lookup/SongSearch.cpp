#include "cli/lookup/SongSearch.h"

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

SSongResult CSongSearcher::Find(const std::wstring& artist, const std::wstring& title,
                                const std::function<std::string(const SSongResult&)>& check) {
  SSongResult result;
  std::shared_ptr<const SArtistSongs> songs =
      m_cache.Get(FoldCase(TrimWide(artist)), [&] { return FetchSongs(artist); });
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
  if (check) {
    result.strSkipReason = check(result);
    if (!result.strSkipReason.empty()) {
      result.bSkipped = true;
      return result;
    }
  }
  SDownloadStats before = m_lookup.Stats();
  result.eOutcome = m_lookup.FetchLyrics(result.song.strUrl, result.song.strLyrics, result.failure);
  SDownloadStats after = m_lookup.Stats();
  m_counts.nLyrics += after.nDownloads - before.nDownloads;
  m_counts.nFailed += (after.nDownloads - before.nDownloads) - (after.nSuccessful - before.nSuccessful);
  return result;
}

}  // namespace cli

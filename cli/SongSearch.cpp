#include "cli/SongSearch.h"

#include <chrono>
#include <thread>
#include <vector>

#include "cli/HostPlatform.h"
#include "cli/OutputTemplate.h"
#include "cli/TextConvert.h"
#include "cli/TitleMatch.h"

namespace cli {
namespace {

// Marks a song list the plug-in has not touched: it leaves the host's list
// alone when it cannot find the artist page, and empties it when it found
// the page but no song on it.
const wchar_t* const UNTOUCHED_ID = L"\x01versewell-cli: list not replaced";

constexpr unsigned FIRST_RETRY_MS = 500;
constexpr unsigned MAX_RETRY_MS = 30000;

std::string OneLine(const std::wstring& text) {
  std::wstring clean(text);
  for (wchar_t& c : clean)
    if (c < 0x20 || c == 0x7F) c = L' ';
  return WideToUtf8(clean);
}

std::string Quote(const std::wstring& text) { return "\"" + OneLine(text) + "\""; }

}  // namespace

const char* OutcomeName(EOutcome outcome) {
  switch (outcome) {
    case EOutcome::Found: return "found";
    case EOutcome::NotFound: return "not_found";
    case EOutcome::Network: return "network";
    case EOutcome::Interrupted: return "interrupted";
    case EOutcome::Skipped: return "skipped";
  }
  return "not_found";
}

std::string DisplayAddress(const std::wstring& siteAddress) {
  std::string text = OneLine(siteAddress);
  if (text.find("://") == std::string::npos) text = "http://" + text;
  return text;
}

CSongSearcher::CSongSearcher(CLyricsDllInterface& plugin, CArtistListCache& cache, SSearchOptions options)
    : m_plugin(plugin),
      m_cache(cache),
      m_options(options),
      m_nSeed(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(this))) {}

unsigned CSongSearcher::Downloads(unsigned* successful) {
  unsigned count = 0, ok = 0;
  m_plugin.GetProperty(L"StatisticDownloadCounter", &count);
  m_plugin.GetProperty(L"StatisticSuccessfulDownloads", &ok);
  if (successful != nullptr) *successful = ok;
  return count;
}

bool CSongSearcher::WaitBeforeRetry(unsigned attempt) {
  if (attempt >= m_options.nRetries) return false;
  unsigned long ms = FIRST_RETRY_MS;
  for (unsigned i = 0; i < attempt && ms < MAX_RETRY_MS; ++i) ms *= 2;
  if (ms > MAX_RETRY_MS) ms = MAX_RETRY_MS;
  // +-25 % jitter, so that workers that failed together do not retry together.
  m_nSeed = m_nSeed * 1103515245u + 12345u;
  ms = ms * 3 / 4 + (m_nSeed >> 8) % (ms / 2 + 1);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (hostplatform::StopRequested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !hostplatform::StopRequested();
}

SArtistSongs CSongSearcher::FetchSongs(const std::wstring& artist) {
  for (unsigned attempt = 0;; ++attempt) {
    SArtistSongs result;
    SongListEntry sentinel;
    sentinel.SourceId = UNTOUCHED_ID;
    result.songs.push_back(sentinel);
    unsigned okBefore = 0, okAfter = 0;
    unsigned before = Downloads(&okBefore);
    int count = m_plugin.FindArtistSongList(artist, result.songs);
    unsigned after = Downloads(&okAfter);
    m_counts.nLookupsAndLists += after - before;
    m_counts.nFailed += (after - before) - (okAfter - okBefore);
    bool untouched = result.songs.size() == 1 && result.songs.front().SourceId == UNTOUCHED_ID;
    if (!untouched) ++m_counts.nLists;
    if (hostplatform::StopRequested()) {
      result.eOutcome = EOutcome::Interrupted;
      result.songs.clear();
      result.strMessage = "interrupted";
      return result;
    }
    if (count > 0) {
      result.eOutcome = EOutcome::Found;
      return result;
    }
    result.songs.clear();
    bool failed = after - before > okAfter - okBefore;
    if (!untouched) {
      result.strMessage = "no songs are listed on the page of " + Quote(artist);
      return result;
    }
    if (!failed) {
      result.strMessage = "artist not found: " + Quote(artist);
      return result;
    }
    if (WaitBeforeRetry(attempt)) continue;
    if (hostplatform::StopRequested()) {
      result.eOutcome = EOutcome::Interrupted;
      result.strMessage = "interrupted";
      return result;
    }
    result.eOutcome = EOutcome::Network;
    result.strMessage = "a download for the artist " + Quote(artist) + " failed";
    return result;
  }
}

SSongResult CSongSearcher::Find(const std::wstring& artist, const std::wstring& title,
                                const std::function<std::string(const SSongResult&)>& check) {
  SSongResult result;
  std::shared_ptr<const SArtistSongs> songs =
      m_cache.Get(FoldCase(TrimWide(artist)), [&] { return FetchSongs(artist); });
  if (songs->eOutcome != EOutcome::Found) {
    result.eOutcome = songs->eOutcome;
    result.strMessage = songs->strMessage;
    result.strUrl = songs->strUrl;
    return result;
  }

  const std::wstring wanted = FoldCase(TrimWide(title));
  const SongListEntry* chosen = nullptr;
  for (const SongListEntry& song : songs->songs)
    if (!wanted.empty() && FoldCase(FieldsFromPageAddress(song.Url, L"", L"").strTitle) == wanted) {
      chosen = &song;
      break;
    }
  if (chosen == nullptr)
    for (const SongListEntry& song : songs->songs)
      if (!wanted.empty() && FoldCase(TrimWide(song.Title)) == wanted) {
        chosen = &song;
        break;
      }
  result.strMatch = "exact";
  if (chosen == nullptr) {
    std::vector<std::wstring> titles;
    std::vector<const SongListEntry*> entries;
    for (const SongListEntry& song : songs->songs) {
      titles.push_back(song.Title);
      entries.push_back(&song);
    }
    STitleChoice choice = ChooseTitle(titles, title);
    if (choice.nIndex == std::wstring::npos) {
      result.strMessage = "no song titled " + Quote(title) + " by " + Quote(artist);
      return result;
    }
    if (!m_options.bClosest) {
      result.strMessage = "no song titled " + Quote(title) + " by " + Quote(artist) + " (closest: " +
                          Quote(entries[choice.nIndex]->Title) + "; --closest takes it)";
      return result;
    }
    chosen = entries[choice.nIndex];
    result.strMatch = "closest";
  }
  result.strListTitle = chosen->Title;
  result.strSiteUrl = chosen->Url;
  result.strWikiArtist = FieldsFromPageAddress(chosen->Url, artist, chosen->Title).strArtist;
  result.strUrl = DisplayAddress(chosen->Url);
  if (check) {
    std::string reason = check(result);
    if (!reason.empty()) {
      result.eOutcome = EOutcome::Skipped;
      result.strMessage = reason;
      return result;
    }
  }

  for (unsigned attempt = 0;; ++attempt) {
    CString lyrics;
    unsigned okBefore = 0, okAfter = 0;
    unsigned before = Downloads(&okBefore);
    BOOL found = m_plugin.GetLyrics(CString(chosen->Url.c_str()), lyrics);
    unsigned after = Downloads(&okAfter);
    m_counts.nLyrics += after - before;
    m_counts.nFailed += (after - before) - (okAfter - okBefore);
    if (found != 0 && !lyrics.IsEmpty()) {
      result.eOutcome = EOutcome::Found;
      result.strLyrics = lyrics.GetString();
      return result;
    }
    if (hostplatform::StopRequested()) {
      result.eOutcome = EOutcome::Interrupted;
      result.strMessage = "interrupted";
      return result;
    }
    if (after - before == okAfter - okBefore) {
      result.strMessage = "no lyrics on " + result.strUrl + " (the page has no lyrics box, or may not show them)";
      return result;
    }
    if (WaitBeforeRetry(attempt)) continue;
    result.eOutcome = hostplatform::StopRequested() ? EOutcome::Interrupted : EOutcome::Network;
    result.strMessage = hostplatform::StopRequested() ? "interrupted" : "download of " + result.strUrl + " failed";
    return result;
  }
}

}  // namespace cli

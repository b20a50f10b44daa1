#include "cli/lookup/SongLookup.h"

#include <chrono>
#include <thread>

#include "cli/sys/HostPlatform.h"
#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

namespace cli {
namespace {

// Marks a song list the plug-in has not touched: it leaves the host's list
// alone when it cannot find or download the artist page, and empties it when
// it read the page but found no song on it.
const wchar_t* const SENTINEL_ID = L"\x01versewell-cli: list not replaced";

std::string Quote(const std::wstring& text) { return "\"" + Echo(text) + "\""; }

std::string ArtistNotFound(const std::wstring& artist) {
  // The wiki's index is organised by leading letter or digit; other names
  // are never looked up.
  wchar_t lead = artist.empty() ? 0 : artist[0];
  bool usable = (lead >= L'a' && lead <= L'z') || (lead >= L'A' && lead <= L'Z') || (lead >= L'0' && lead <= L'9');
  return "artist not found: " + Quote(artist) + (usable ? std::string() : " (names must begin with an ASCII letter or digit)");
}

}  // namespace

int ExitCodeOf(EOutcome outcome) {
  switch (outcome) {
    case EOutcome::Found: return 0;
    case EOutcome::NotFound: return 1;
    case EOutcome::Network: return 3;
    case EOutcome::Interrupted: return 130;
  }
  return 1;
}

EErrorKind ErrorKindOf(EOutcome outcome) {
  switch (outcome) {
    case EOutcome::Network: return EErrorKind::Network;
    case EOutcome::Interrupted: return EErrorKind::Interrupted;
    default: return EErrorKind::NotFound;
  }
}

nlohmann::ordered_json ErrorObject(const SFailure& failure) {
  return JsonError(ErrorKindOf(failure.eKind), failure.strMessage, failure.strUrl, failure.strCause,
                   failure.vecSuggestions);
}

nlohmann::ordered_json SongObject(const SSong& song) {
  return {{"artist", WideToUtf8(song.strArtist)}, {"query", WideToUtf8(song.strQuery)},
          {"title", WideToUtf8(song.strTitle)},   {"url", WideToUtf8(song.strUrl)},
          {"match", song.strMatch},               {"lyrics", WideToUtf8(song.strLyrics)}};
}

CSongLookup::CSongLookup(CLyricsDllInterface& plugin, CCliHost& host, CTraceWatch* trace, SLookupSettings settings)
    : m_plugin(plugin), m_host(host), m_pTrace(trace), m_settings(std::move(settings)), m_random(std::random_device{}()) {}

SDownloadStats CSongLookup::Stats() {
  SDownloadStats stats;
  m_plugin.GetProperty(L"StatisticDownloadCounter", &stats.nDownloads);
  m_plugin.GetProperty(L"StatisticSuccessfulDownloads", &stats.nSuccessful);
  m_plugin.GetProperty(L"StatisticTotalDownloadTime", &stats.nMilliseconds);
  return stats;
}

bool CSongLookup::Pause(unsigned milliseconds) {
  // In short steps, so that Ctrl-C ends the wait at once.
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    if (hostplatform::StopRequested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !hostplatform::StopRequested();
}

EOutcome CSongLookup::Attempt(const std::function<bool()>& request, const std::string& address, SFailure& failure) {
  const unsigned long thread = hostplatform::CurrentThreadId();
  for (unsigned attempt = 0;; ++attempt) {
    if (m_bRequested && m_settings.nDelayMs > 0 && !Pause(m_settings.nDelayMs)) break;
    m_bRequested = true;
    if (m_pTrace != nullptr) m_pTrace->TakeFailure(thread);  // forget older lines
    SDownloadStats before = Stats();
    bool found = request();
    SDownloadStats after = Stats();
    if (hostplatform::StopRequested()) break;
    if (found) return EOutcome::Found;
    if (after.nDownloads - before.nDownloads <= after.nSuccessful - before.nSuccessful) return EOutcome::NotFound;

    std::optional<SDownloadFailure> traced;
    if (m_pTrace != nullptr) traced = m_pTrace->TakeFailure(thread);
    SCause cause = traced ? DescribeFailure(*traced, after.nMilliseconds - before.nMilliseconds) : UnknownFailure();
    failure.eKind = cause.eKind;
    failure.strUrl = traced ? Address(Utf8ToWide(traced->line.strUrl)) : address;
    failure.strCause = cause.strText;
    failure.strMessage = DownloadMessage(failure.strUrl, cause);
    if (!cause.bRetry || attempt >= m_settings.nRetries) return failure.eKind;
    // Exponential back-off with jitter: 0.5 s, 1 s, 2 s ... each between
    // 75 % and 125 % of its step, so that parallel clients spread out.
    unsigned step = m_settings.nFirstBackoffMs << (attempt < 10 ? attempt : 10);
    std::uniform_int_distribution<unsigned> jitter(step * 3 / 4, step * 5 / 4);
    if (!Pause(jitter(m_random))) break;
  }
  failure = SFailure();
  failure.eKind = EOutcome::Interrupted;
  failure.strMessage = "interrupted";
  return EOutcome::Interrupted;
}

std::string CSongLookup::DownloadMessage(const std::string& address, const SCause& cause) const {
  std::string text = "download of " + address + " failed: " + cause.strText;
  if (cause.eKind == EOutcome::NotFound) return text;
  if (m_settings.strProxy.empty())
    text += "; if the wiki is reached through a proxy, name it with --proxy HOST:PORT";
  else if (cause.strText.find("proxy") == std::string::npos)
    text += " (through the proxy " + m_settings.strProxy + ")";
  return text;
}

EOutcome CSongLookup::FindArtist(const std::wstring& artist, std::wstring& url, SFailure& failure) {
  CString found;
  EOutcome outcome = Attempt(
      [&] {
        found = CString();
        return m_plugin.FindArtistUrl(artist, found) != 0 && !found.IsEmpty();
      },
      IndexAddress(artist), failure);
  if (outcome == EOutcome::Found) {
    url = found.Str();
  } else if (outcome == EOutcome::NotFound && failure.strMessage.empty()) {
    failure.eKind = EOutcome::NotFound;
    failure.strMessage = ArtistNotFound(artist);
  }
  return outcome;
}

EOutcome CSongLookup::ListSongs(const std::wstring& artist, std::wstring& artistUrl, std::list<SongListEntry>& songs,
                                SFailure& failure) {
  songs.clear();
  EOutcome outcome = FindArtist(artist, artistUrl, failure);
  if (outcome != EOutcome::Found) return outcome;
  outcome = ReadSongs(artist, Address(artistUrl), songs, failure);
  if (failure.bNoSongs) failure.strUrl = Address(artistUrl);
  return outcome;
}

EOutcome CSongLookup::ListSongsOnce(const std::wstring& artist, std::list<SongListEntry>& songs, SFailure& failure) {
  songs.clear();
  return ReadSongs(artist, IndexAddress(artist), songs, failure);
}

EOutcome CSongLookup::ReadSongs(const std::wstring& artist, const std::string& address,
                                std::list<SongListEntry>& songs, SFailure& failure) {
  bool untouched = false;
  EOutcome outcome = Attempt(
      [&] {
        songs.clear();
        SongListEntry sentinel;
        sentinel.SourceId = SENTINEL_ID;
        songs.push_back(sentinel);
        int count = m_plugin.FindArtistSongList(artist, songs);
        untouched = songs.size() == 1 && songs.front().SourceId == SENTINEL_ID;
        return count > 0;
      },
      address, failure);
  if (outcome == EOutcome::Found) return outcome;
  if (untouched) songs.clear();
  if (outcome == EOutcome::NotFound && failure.strMessage.empty()) {
    failure.eKind = EOutcome::NotFound;
    if (untouched) {
      failure.strMessage = ArtistNotFound(artist);
    } else {
      failure.bNoSongs = true;
      failure.strMessage = "no songs are listed on the page of " + Quote(artist);
    }
  }
  return outcome;
}

EOutcome CSongLookup::FetchLyrics(const std::wstring& url, std::wstring& lyrics, SFailure& failure) {
  CString text;
  EOutcome outcome = Attempt([&] { return m_plugin.GetLyrics(url, text) != 0 && !text.IsEmpty(); }, Address(url),
                             failure);
  if (outcome == EOutcome::Found) {
    lyrics = text.Str();
  } else if (outcome == EOutcome::NotFound && failure.strMessage.empty()) {
    failure.eKind = EOutcome::NotFound;
    failure.strUrl = Address(url);
    failure.strMessage =
        "no lyrics on " + failure.strUrl + " (the page has no lyrics box, or may not show these lyrics)";
  }
  return outcome;
}

EOutcome CSongLookup::FindSong(const std::wstring& artist, const std::wstring& title, SSong& song, std::string& note,
                               SFailure& failure) {
  song = SSong();
  std::wstring artistUrl;
  std::list<SongListEntry> songs;
  EOutcome outcome = ListSongs(artist, artistUrl, songs, failure);
  if (outcome != EOutcome::Found) {
    song.strQuery = artist;
    return outcome;
  }
  outcome = ChooseSong(artist, artistUrl, songs, title, song, note, failure);
  if (outcome != EOutcome::Found) return outcome;
  return FetchLyrics(song.strUrl, song.strLyrics, failure);
}

EOutcome CSongLookup::ChooseSong(const std::wstring& artist, const std::wstring& artistUrl,
                                 const std::list<SongListEntry>& songs, const std::wstring& title, SSong& song,
                                 std::string& note, SFailure& failure) {
  song = SSong();
  song.strQuery = artist;
  song.strArtist = PageArtist(artistUrl);

  std::vector<std::wstring> titles, pageNames;
  std::vector<const SongListEntry*> entries;
  for (const SongListEntry& entry : songs) {
    titles.push_back(entry.Title);
    pageNames.push_back(PageName(entry.Url));
    entries.push_back(&entry);
  }
  STitleChoice choice = ChooseTitle(titles, pageNames, title);
  if (choice.nIndex == std::wstring::npos || (!choice.bClose && !m_settings.bClosest)) {
    failure = SFailure();
    failure.eKind = EOutcome::NotFound;
    failure.strUrl = Address(artistUrl);
    std::string list;
    for (size_t index : choice.vecSuggestions) {
      failure.vecSuggestions.push_back(WideToUtf8(titles[index]));
      list += (list.empty() ? "" : ", ") + Quote(titles[index]);
    }
    failure.strMessage = "no song titled " + Quote(title) + " by " + Quote(song.strArtist);
    if (!list.empty()) failure.strMessage += "; closest: " + list + " (or use --closest)";
    return EOutcome::NotFound;
  }
  const SongListEntry& entry = *entries.at(choice.nIndex);
  song.strTitle = entry.Title;
  song.strUrl = entry.Url;
  song.strMatch = choice.bExact ? "exact" : choice.bClose ? "close" : "closest";
  if (!choice.bExact)
    note = "no song titled " + Quote(title) + " by " + Quote(song.strArtist) + "; using " + Quote(entry.Title);
  return EOutcome::Found;
}

std::string CSongLookup::IndexAddress(const std::wstring& artist) const {
  // The wiki's artist index: one category page per leading letter, "0" for
  // digits, read from the artist's own name on.
  std::wstring host = m_host.Ignore().LastHost();
  std::wstring path = L"/index.php?title=Category:Artists_";
  wchar_t lead = artist.empty() ? L'?' : artist[0];
  if (lead >= L'a' && lead <= L'z') lead = static_cast<wchar_t>(lead - 32);
  if (lead >= L'0' && lead <= L'9') lead = L'0';
  path += lead;
  path += L"&from=";
  for (wchar_t c : artist) path += c == L' ' ? L'+' : c;
  return Address(host + path);
}

std::string CSongLookup::Address(const std::wstring& siteAddress) {
  std::string text = Echo(siteAddress);
  if (text.find("://") == std::string::npos) text = "http://" + text;
  return text;
}

}  // namespace cli

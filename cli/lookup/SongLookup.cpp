#include "cli/lookup/SongLookup.h"

#include <chrono>
#include <thread>

#include "cli/lookup/ArtistSuggestions.h"
#include "cli/sys/HostPlatform.h"
#include "cli/lookup/TagForms.h"
#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

namespace cli {
namespace {

// The artist name difference one accented letter costs the plug-in's
// matcher (a letter replaced by another), added to the allowance while an
// accent-folded form is looked up.
constexpr float ACCENT_ALLOWANCE = 100.0f;

// Marks a song list the plug-in has not touched: it leaves the host's list
// alone when it cannot find or download the artist page, and empties it when
// it read the page but found no song on it.
const wchar_t* const SENTINEL_ID = L"\x01versewell-cli: list not replaced";

std::string Quote(const std::wstring& text) { return "\"" + Echo(text) + "\""; }

// "2 s", "0.5 s", "1.25 s".
std::string Seconds(unsigned milliseconds) {
  std::string text = std::to_string(milliseconds / 1000);
  unsigned rest = milliseconds % 1000;
  if (rest != 0) {
    std::string digits = std::to_string(1000 + rest).substr(1);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text + " s";
}

std::string ArtistNotFound(const std::wstring& artist) {
  // The wiki's index is organised by leading letter or digit; other names
  // are never looked up (an accented letter is looked up as its base).
  const std::wstring folded = FoldAccents(artist);
  wchar_t lead = folded.empty() ? 0 : folded[0];
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

nlohmann::ordered_json FormObject(const SSong& song) {
  if (song.strArtistForm.empty() && song.strTitleForm.empty()) return nullptr;
  auto text = [](const std::wstring& form) {
    return form.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(WideToUtf8(form));
  };
  return {{"artist", text(song.strArtistForm)}, {"title", text(song.strTitleForm)}};
}

nlohmann::ordered_json SongObject(const SSong& song) {
  nlohmann::ordered_json object = {{"artist", WideToUtf8(song.strArtist)}, {"query", WideToUtf8(song.strQuery)},
                                   {"title", WideToUtf8(song.strTitle)},   {"url", WideToUtf8(song.strUrl)},
                                   {"match", song.strMatch}};
  nlohmann::ordered_json form = FormObject(song);
  if (!form.is_null()) object["form"] = std::move(form);
  object["lyrics"] = WideToUtf8(song.strLyrics);
  return object;
}

void MarkArtistForm(SSong& song, const std::wstring& artistForm) {
  song.strArtistForm = artistForm;
  if (!artistForm.empty() && song.strMatch == "exact") song.strMatch = "normalised";
}

CSongLookup::CSongLookup(CLyricsDllInterface& plugin, CCliHost& host, CTraceWatch* trace, SLookupSettings settings)
    : m_plugin(plugin), m_host(host), m_pTrace(trace), m_settings(std::move(settings)), m_random(std::random_device{}()) {
  m_host.SetDownloadLimit(m_settings.nTimeoutMs);
}

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
    m_host.BeginRequest();
    SDownloadStats before = Stats();
    bool found = request();
    SDownloadStats after = Stats();
    if (hostplatform::StopRequested()) break;
    const bool timedOut = m_host.TimedOut();
    if (found && !timedOut) return EOutcome::Found;
    if (!timedOut && after.nDownloads - before.nDownloads <= after.nSuccessful - before.nSuccessful)
      return EOutcome::NotFound;

    std::optional<SDownloadFailure> traced;
    if (m_pTrace != nullptr) traced = m_pTrace->TakeFailure(thread);
    SCause cause = traced ? DescribeFailure(*traced, after.nMilliseconds - before.nMilliseconds) : UnknownFailure();
    if (timedOut) {
      // The host stopped the download; the plug-in saw only a cancel.
      cause = SCause();
      cause.eKind = EOutcome::Network;
      cause.bRetry = true;
      cause.strText = "no answer within " + Seconds(m_host.DownloadLimit()) + " (--timeout)";
    }
    failure.eKind = cause.eKind;
    failure.strUrl = traced ? Address(Utf8ToWide(traced->line.strUrl)) : address;
    failure.strCause = cause.strText;
    failure.strMessage = DownloadMessage(failure.strUrl, cause);
    if (!cause.bRetry || attempt >= m_settings.nRetries) return failure.eKind;
    // Exponential back-off with jitter: 0.5 s, 1 s, 2 s ... each between
    // 75 % and 125 % of its step, so that parallel clients spread out.
    unsigned step = m_settings.nFirstBackoffMs << (attempt < 10 ? attempt : 10);
    std::uniform_int_distribution<unsigned> jitter(step * 3 / 4, step * 5 / 4);
    const unsigned wait = jitter(m_random);
    if (m_settings.fnRetryNote)
      m_settings.fnRetryNote("retrying in " + Seconds(wait) + " (attempt " + std::to_string(attempt + 2) + " of " +
                             std::to_string(m_settings.nRetries + 1) + "): " + cause.strText + " (" + failure.strUrl +
                             ")");
    if (!Pause(wait)) break;
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

EOutcome CSongLookup::WithArtistForms(const std::wstring& artist,
                                      const std::function<EOutcome(const std::wstring&, SFailure&)>& step,
                                      const std::function<std::wstring()>& pageArtist, SFailure& failure) {
  m_strArtistForm.clear();
  EOutcome outcome = step(artist, failure);
  if (outcome != EOutcome::NotFound || !failure.bArtistMissing) return outcome;
  const SFailure typedFailure = failure;
  for (const std::wstring& form : ArtistForms(artist)) {
    // A form whose accents were folded finds the wiki's accented name only
    // with a larger allowance (each folded letter costs a replacement); it
    // is taken when the wiki's name folds to the same text.
    const std::wstring plain = FoldAccents(form);
    size_t folded = 0;  // accented letters of the typed name that this form folded
    if (plain == form && FoldAccents(artist) != artist)
      for (wchar_t c : artist) folded += (c >= 0xC0 && c <= 0x17F && FoldAccents(std::wstring(1, c)) != std::wstring(1, c));
    SFailure formFailure;
    m_host.SetExtraDifference(static_cast<float>(folded) * ACCENT_ALLOWANCE);
    EOutcome result = step(form, formFailure);
    m_host.SetExtraDifference(0);
    if (result == EOutcome::Found && folded > 0 &&
        FoldCase(FoldAccents(TrimWide(pageArtist()))) != FoldCase(TrimWide(plain)))
      continue;  // the allowance found some other name
    if (result == EOutcome::NotFound && formFailure.bArtistMissing) continue;
    // The wiki's own name written as typed (accents and all) is no
    // normalised form, though it had to be looked up as one.
    const bool asTyped = result == EOutcome::Found && FoldCase(TrimWide(pageArtist())) == FoldCase(TrimWide(artist));
    if ((result == EOutcome::Found || formFailure.bNoSongs) && !asTyped) m_strArtistForm = form;
    failure = formFailure;
    return result;
  }
  failure = typedFailure;
  AddSuggestions(artist, failure);
  return EOutcome::NotFound;
}

void CSongLookup::AddSuggestions(const std::wstring& artist, SFailure& failure) const {
  std::vector<SArtistSuggestion> close = SuggestArtists(artist, m_settings.strCacheFolder);
  if (close.empty()) return;
  std::string list;
  for (const SArtistSuggestion& suggestion : close) {
    failure.vecSuggestions.push_back(WideToUtf8(suggestion.strName));
    list += (list.empty() ? "" : ", ") + Quote(suggestion.strName);
    if (&suggestion == &close.front()) list += " (--max-diff " + AcceptingMaxDiff(suggestion.fDistance) + " would accept it)";
  }
  failure.strMessage += "; closest: " + list;
}

EOutcome CSongLookup::FindArtist(const std::wstring& artist, std::wstring& url, SFailure& failure) {
  CString found;
  auto step = [&](const std::wstring& name, SFailure& stepFailure) {
    EOutcome outcome = Attempt(
        [&] {
          found = CString();
          return m_plugin.FindArtistUrl(name, found) != 0 && !found.IsEmpty();
        },
        IndexAddress(name), stepFailure);
    if (outcome == EOutcome::NotFound && stepFailure.strMessage.empty()) {
      stepFailure.eKind = EOutcome::NotFound;
      stepFailure.bArtistMissing = true;
      stepFailure.strMessage = ArtistNotFound(artist);
    }
    return outcome;
  };
  EOutcome outcome = WithArtistForms(artist, step, [&] { return PageArtist(found.Str()); }, failure);
  if (outcome == EOutcome::Found) url = found.Str();
  return outcome;
}

std::wstring CSongLookup::ArtistPageOf(const std::wstring& songUrl) {
  size_t wiki = songUrl.find(L"/wiki/");
  size_t colon = songUrl.find(L':', wiki == std::wstring::npos ? 0 : wiki);
  return colon == std::wstring::npos ? songUrl : songUrl.substr(0, colon);
}

EOutcome CSongLookup::ListSongs(const std::wstring& artist, std::wstring& artistUrl, std::list<SongListEntry>& songs,
                                SFailure& failure) {
  // One plug-in request reads the index page and the artist page; asking
  // for the artist's address first would read the index page twice (the
  // artist cache never holds an exact match).
  artistUrl.clear();
  EOutcome outcome = ListSongsOnce(artist, songs, failure);
  if (outcome == EOutcome::Found) {
    artistUrl = ArtistPageOf(songs.front().Url);
  } else if (failure.bNoSongs && m_pTrace != nullptr) {
    // A page without songs names no song address to take the artist's
    // from. It was the last page read; asking the plug-in for the artist's
    // address again would read the index page a second time (the artist
    // cache never holds an exact match).
    artistUrl = Utf8ToWide(m_pTrace->LastDownload(hostplatform::CurrentThreadId()));
    if (!artistUrl.empty()) failure.strUrl = Address(artistUrl);
  }
  return outcome;
}

EOutcome CSongLookup::ListSongsOnce(const std::wstring& artist, std::list<SongListEntry>& songs, SFailure& failure) {
  songs.clear();
  return WithArtistForms(
      artist, [&](const std::wstring& name, SFailure& stepFailure) {
        EOutcome outcome = ReadSongs(name, IndexAddress(name), songs, stepFailure);
        if (stepFailure.bArtistMissing) stepFailure.strMessage = ArtistNotFound(artist);
        return outcome;
      },
      [&] { return songs.empty() ? std::wstring() : PageArtist(songs.front().Url); }, failure);
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
      failure.bArtistMissing = true;
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
    failure.bNoLyrics = true;
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
  const std::wstring form = m_strArtistForm;
  outcome = ChooseSong(artist, artistUrl, songs, title, song, note, failure);
  if (outcome != EOutcome::Found) return outcome;
  MarkArtistForm(song, form);
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
  song.strMatch = choice.bExact ? "exact" : choice.bNormalised ? "normalised" : choice.bClose ? "close" : "closest";
  song.strTitleForm = choice.strForm;
  if (!choice.bExact && !choice.bNormalised)
    note = "no song titled " + Quote(title) + " by " + Quote(song.strArtist) + "; using " + Quote(entry.Title);
  return EOutcome::Found;
}

std::string CSongLookup::IndexAddress(const std::wstring& artist) const {
  // (Only for messages: the plug-in builds the address it downloads.)
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

// The single-song pipeline of the CLI, reusable by any command:
// find the artist's page, list its songs, pick the title strictly, fetch
// the lyrics. Every step classifies its outcome as found, not found (the
// artist, song or lyrics are not on the wiki, or the page answered 404/410),
// network (any other failed download) or interrupted, names the cause of a
// failed download from the plug-in's trace, and retries network failures
// and HTTP 429/5xx with exponential back-off and jitter.
//
// Ownership: borrows one plug-in object, its host callback and the trace
// watch; all must outlive the lookup. It holds no global mutable state, so
// one lookup per thread, each with its own plug-in object, may run at once.
// Failure: results are EOutcome values with an SFailure; nothing throws but
// std::bad_alloc. Threads: one thread per object.
#ifndef VERSEWELL_CLI_SONG_LOOKUP_H
#define VERSEWELL_CLI_SONG_LOOKUP_H

#include <functional>
#include <list>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <versewell/plugin.h>

#include "cli/output/JsonError.h"
#include "cli/host/CliHost.h"
#include "cli/host/DownloadCause.h"
#include "cli/host/TraceWatch.h"

namespace cli {

struct SLookupSettings {
  unsigned nRetries = 2;       // extra attempts after a retryable failure
  unsigned nDelayMs = 0;       // pause before every plug-in request after the first
  unsigned nFirstBackoffMs = 500;
  bool bClosest = false;       // take the closest title even when it is not close
  std::string strProxy;        // the --proxy value, for messages
  std::wstring strCacheFolder; // the artist cache the plug-in writes, for suggestions; empty: none
  unsigned nTimeoutMs = 0;     // longest single download (--timeout); 0: the plug-in's own limits
  // Told, before a retry waits, how long and why ("retrying in 1.0 s:
  // CAUSE"). Called on the lookup's thread; may be empty.
  std::function<void(const std::string&)> fnRetryNote;
};

struct SFailure {
  EOutcome eKind = EOutcome::NotFound;
  std::string strMessage;  // one line for the user
  std::string strUrl;      // the address involved, when known
  std::string strCause;    // why a download failed, when one did
  std::vector<std::string> vecSuggestions;  // titles offered when none matched
  bool bNoSongs = false;   // the artist page was read and lists no song
  bool bNoLyrics = false;  // the song page was read and shows no lyrics (instrumental or withheld)
  bool bArtistMissing = false;  // no artist of that name (or any of its normalised forms)
};

struct SSong {
  std::wstring strArtist;  // the wiki's name, from the artist page address
  std::wstring strQuery;   // the artist as typed
  std::wstring strTitle;   // the song list's title
  std::wstring strUrl;     // the song page address
  std::string strMatch;    // "exact", "normalised", "close" or "closest"
  std::wstring strArtistForm;  // the normalised artist name that was found, when the typed one was not
  std::wstring strTitleForm;   // the normalised title that matched, for a "normalised" match
  std::wstring strLyrics;  // the plug-in's text (CR LF line ends)
};

struct SDownloadStats {
  unsigned int nDownloads = 0;
  unsigned int nSuccessful = 0;
  unsigned int nMilliseconds = 0;
};

// Exit code of an outcome: 0 found, 1 not found, 3 network, 130 interrupted.
int ExitCodeOf(EOutcome outcome);
// The kind of a JSON error object (cli/output/JsonError.h).
EErrorKind ErrorKindOf(EOutcome outcome);
// {"error": {"kind", "message", "url", "cause"}} ("suggestions" when any).
nlohmann::ordered_json ErrorObject(const SFailure& failure);
// {"artist", "query", "title", "url", "match", "lyrics"} of a found song;
// the lyrics keep the plug-in's CR LF. A song found through a normalised
// form adds "form": {"artist", "title"} (null for a part taken as typed).
nlohmann::ordered_json SongObject(const SSong& song);
// The "form" member of SongObject; null when nothing was normalised.
nlohmann::ordered_json FormObject(const SSong& song);
// Records that the artist was found as `artistForm` (empty: as typed); an
// exact title match then counts as "normalised".
void MarkArtistForm(SSong& song, const std::wstring& artistForm);

class CSongLookup {
 public:
  CSongLookup(CLyricsDllInterface& plugin, CCliHost& host, CTraceWatch* trace, SLookupSettings settings);

  // Every artist lookup below tries the name as typed, then, while no
  // artist of that name is found, its normalised forms (ArtistForms). A
  // form with folded accents is taken only when the wiki's name folds to
  // it. LastArtistForm() names the form that was found (empty: as typed).
  const std::wstring& LastArtistForm() const { return m_strArtistForm; }

  // The artist page address.
  EOutcome FindArtist(const std::wstring& artist, std::wstring& url, SFailure& failure);
  // The artist page address and its songs (one plug-in request). An artist
  // page without songs is NotFound with bNoSongs set and `artistUrl` filled
  // from the trace (the page read last), or left empty when the trace level
  // does not record download addresses: never by a second request.
  EOutcome ListSongs(const std::wstring& artist, std::wstring& artistUrl, std::list<SongListEntry>& songs,
                     SFailure& failure);
  // The artist's songs with a single plug-in request: FindArtistSongList
  // looks the artist up itself, so the artist's index page is read once.
  EOutcome ListSongsOnce(const std::wstring& artist, std::list<SongListEntry>& songs, SFailure& failure);
  // Picks the song meant by `title` from an artist's list, strictly (or the
  // closest one with bClosest); fills everything in `song` but the lyrics.
  EOutcome ChooseSong(const std::wstring& artist, const std::wstring& artistUrl, const std::list<SongListEntry>& songs,
                      const std::wstring& title, SSong& song, std::string& note, SFailure& failure);
  // The lyrics of one song page.
  EOutcome FetchLyrics(const std::wstring& url, std::wstring& lyrics, SFailure& failure);
  // The whole pipeline for ARTIST TITLE. `note` receives a line for the user
  // when a close or closest title stood in for the typed one.
  EOutcome FindSong(const std::wstring& artist, const std::wstring& title, SSong& song, std::string& note,
                    SFailure& failure);

  SDownloadStats Stats();

  // The artist page address from one of its song pages' addresses
  // ("host/wiki/Artist:Song" gives "host/wiki/Artist").
  static std::wstring ArtistPageOf(const std::wstring& songUrl);

  // The address a plug-in site address stands for, with "http://" in front.
  static std::string Address(const std::wstring& siteAddress);

 private:
  // Runs one plug-in request with retries. `request` returns true when it
  // found what it looked for. A false result without a failed download is
  // NotFound with `failure` untouched (the caller words it).
  EOutcome Attempt(const std::function<bool()>& request, const std::string& address, SFailure& failure);
  EOutcome ReadSongs(const std::wstring& artist, const std::string& address, std::list<SongListEntry>& songs,
                     SFailure& failure);
  // Runs `step` with the typed artist, then with each normalised form
  // while the artist is missing. `pageArtist` gives the wiki's name of what
  // a step found, for checking an accent-folded form.
  EOutcome WithArtistForms(const std::wstring& artist, const std::function<EOutcome(const std::wstring&, SFailure&)>& step,
                           const std::function<std::wstring()>& pageArtist, SFailure& failure);
  // Appends close names from the artist cache to an "artist not found".
  void AddSuggestions(const std::wstring& artist, SFailure& failure) const;
  bool Pause(unsigned milliseconds);
  std::string IndexAddress(const std::wstring& artist) const;
  std::string DownloadMessage(const std::string& address, const SCause& cause) const;

  CLyricsDllInterface& m_plugin;
  CCliHost& m_host;
  CTraceWatch* m_pTrace;
  SLookupSettings m_settings;
  bool m_bRequested = false;
  std::wstring m_strArtistForm;
  std::mt19937 m_random;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_SONG_LOOKUP_H

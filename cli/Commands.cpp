#include "cli/Commands.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli/OutputFolder.h"
#include "cli/OutputTemplate.h"
#include "cli/HostPlatform.h"
#include "cli/LibraryCommands.h"
#include "cli/Progress.h"
#include "cli/TextConvert.h"
#include "cli/TitleMatch.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// Marks a song list the plug-in has not touched: it leaves the host's list
// alone when it cannot find the artist page, and empties it when it found
// the page but no song on it. The two failures need different messages.
const wchar_t* const SENTINEL_ID = L"\x01versewell-cli: list not replaced";

void WriteStdout(const std::string& text, bool& failed) {
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) failed = true;
}

// Song titles come from a page: keep control characters out of line output.
std::string OneLine(const std::wstring& text) {
  std::wstring clean(text);
  for (wchar_t& c : clean)
    if (c < 0x20 || c == 0x7F) c = L' ';
  return WideToUtf8(clean);
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string ArtistNotFound(const std::wstring& artist) {
  // The wiki's index is organised by leading letter or digit; other names
  // are never looked up.
  wchar_t lead = artist.empty() ? 0 : artist[0];
  bool usable = (lead >= L'a' && lead <= L'z') || (lead >= L'A' && lead <= L'Z') || (lead >= L'0' && lead <= L'9');
  return "artist not found: " + Quote(OneLine(artist)) +
         (usable ? std::string() : " (names must begin with an ASCII letter or digit)");
}

std::string DefaultCacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // The XDG base directory rules ignore relative values.
  if (xdg != nullptr && xdg[0] == '/') return (fs::path(xdg) / "versewell").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".cache" / "versewell").string();
  return std::string();
}

}  // namespace

void PrintError(const std::string& message) {
  std::string line = "versewell: " + message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

CCommandRunner::CCommandRunner(const SOptions& options, CPluginLibrary& library)
    : m_options(options),
      m_library(library),
      m_host(Utf8ToWide(options.strProxy), options.fMaxDifference) {}

CCommandRunner::~CCommandRunner() {
  if (m_pPlugin == nullptr) return;
  if (!m_options.strLogDir.empty()) m_pPlugin->CallMethod(L"CloseAndMergeLog", nullptr);
  m_pPlugin->SetHostCallback(nullptr);
  delete m_pPlugin;
}

int CCommandRunner::Run() {
  m_pPlugin = m_library.CreateObject();
  if (m_pPlugin == nullptr) {
    PrintError("the plug-in " + m_library.Path() + " returned no object");
    return EXIT_USAGE;
  }
  if (m_options.eCommand == ECommand::Version) return RunVersion();
  if (!Configure()) return EXIT_USAGE;
  int code = EXIT_NOT_FOUND;
  switch (m_options.eCommand) {
    case ECommand::Artist: code = RunArtist(); break;
    case ECommand::Songs: code = RunSongs(); break;
    case ECommand::Lyrics: code = RunLyrics(); break;
    case ECommand::FetchAll: code = RunFetchAll(); break;
    case ECommand::Batch: code = RunBatch(m_options, m_library, m_strCacheFolder); break;
    case ECommand::Library: code = RunLibrary(m_options, m_library, m_strCacheFolder); break;
    default: break;
  }
  if (m_options.bVerbose) {
    for (const auto& [host, counts] : m_host.Ignore().Hosts())
      PrintError("host ignore list: " + WideToUtf8(host) + " added " + std::to_string(counts.nAdded) +
                 " times, removed " + std::to_string(counts.nRemoved) + " times");
  }
  if (std::fflush(stdout) != 0 || m_bOutputFailed) {
    PrintError("cannot write to standard output");
    if (code == EXIT_FOUND) code = EXIT_NOT_FOUND;
  }
  return code;
}

bool CCommandRunner::Configure() {
  m_pPlugin->SetHostCallback(&m_host);
  std::error_code ec;
  if (!m_options.strLogDir.empty()) {
    fs::create_directories(m_options.strLogDir, ec);
    if (ec) {
      PrintError("cannot create log folder " + m_options.strLogDir + ": " + ec.message());
      return false;
    }
    CString folder(Utf8ToWide(fs::absolute(m_options.strLogDir, ec).string()));
    m_pPlugin->SetProperty(L"LogFolder", &folder);
  }
  if (!m_options.strTraceLevel.empty()) {
    CString level(Utf8ToWide(m_options.strTraceLevel));
    m_pPlugin->SetProperty(L"TraceLevel", &level);
  }
  if (!m_options.strParentLog.empty()) {
    CString parent(Utf8ToWide(fs::absolute(m_options.strParentLog, ec).string()));
    m_pPlugin->SetProperty(L"ParentLogfilePath", &parent);
  }
  if (!m_options.bNoCache) {
    std::string dir = m_options.strCacheDir.empty() ? DefaultCacheDir() : m_options.strCacheDir;
    if (dir.empty()) {
      if (m_options.bVerbose) PrintError("no HOME or XDG_CACHE_HOME: running without an artist cache");
    } else {
      fs::create_directories(dir, ec);
      if (ec) {
        PrintError("cannot create cache folder " + dir + ": " + ec.message());
        return false;
      }
      CString folder(Utf8ToWide(fs::absolute(dir, ec).string()));
      m_pPlugin->SetProperty(L"LocalCacheFolder", &folder);
      m_strCacheFolder = folder.Str();
      if (m_options.bVerbose) PrintError("artist cache: " + dir);
    }
  }
  if (m_options.bVerbose) {
    PrintError("plug-in: " + m_library.Path());
    if (!m_options.strProxy.empty()) PrintError("proxy: " + m_options.strProxy);
  }
  return true;
}

int CCommandRunner::RunVersion() {
  CString name;
  m_pPlugin->GetProperty(L"SourceName", &name);
  std::map<std::string, std::string> info = ReadPluginInfo(m_library.Path());
  std::string version = info.count("Version") != 0 ? info["Version"] : "unknown";
  if (m_options.bJson) {
    Emit({{"name", WideToUtf8(name.Str())}, {"version", version}, {"plugin", m_library.Path()}});
  } else {
    std::string text = WideToUtf8(name.Str()) + " " + version + "\n";
    if (m_options.bVerbose) text += "plug-in: " + m_library.Path() + "\n";
    WriteStdout(text, m_bOutputFailed);
  }
  return EXIT_FOUND;
}

int CCommandRunner::RunArtist() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  SStats before = ReadStats();
  CString url;
  BOOL found = m_pPlugin->FindArtistUrl(artist, url);
  SStats after = ReadStats();
  if (hostplatform::StopRequested()) return Interrupted();
  if (found != 0 && !url.IsEmpty()) {
    if (m_options.bJson)
      Emit({{"artist", WideToUtf8(artist)}, {"url", WideToUtf8(url.Str())}});
    else
      EmitText(OneLine(url.Str()) + "\n");
    return EXIT_FOUND;
  }
  if (DownloadFailed(before, after)) {
    PrintError(DownloadFailure(after.nSuccessful == before.nSuccessful
                                   ? IndexAddress(artist)
                                   : "the preceding artist index page on " + WideToUtf8(m_host.Ignore().LastHost())));
  } else {
    PrintError(ArtistNotFound(artist));
  }
  FinishWithoutOutput();
  return EXIT_NOT_FOUND;
}

int CCommandRunner::ListSongs(const std::wstring& artist, std::list<SongListEntry>& songs) {
  songs.clear();
  SongListEntry sentinel;
  sentinel.SourceId = SENTINEL_ID;
  songs.push_back(sentinel);
  SStats before = ReadStats();
  int count = m_pPlugin->FindArtistSongList(artist, songs);
  SStats after = ReadStats();
  if (hostplatform::StopRequested()) return Interrupted();
  if (count > 0) return EXIT_FOUND;
  bool untouched = songs.size() == 1 && songs.front().SourceId == SENTINEL_ID;
  songs.clear();
  if (!untouched) {
    PrintError("no songs are listed on the page of " + Quote(OneLine(artist)));
  } else if (!DownloadFailed(before, after)) {
    PrintError(ArtistNotFound(artist));
  } else if (after.nSuccessful == before.nSuccessful) {
    PrintError(DownloadFailure(IndexAddress(artist)));
  } else {
    // The index was read, so either its second page or the artist page
    // failed. Asking for the address once more tells which.
    CString url;
    SStats probe = ReadStats();
    BOOL found = m_pPlugin->FindArtistUrl(artist, url);
    if (hostplatform::StopRequested()) return Interrupted();
    if (found != 0 && !url.IsEmpty() && !DownloadFailed(probe, ReadStats()))
      PrintError(DownloadFailure(Address(url.Str())));
    else
      PrintError(DownloadFailure("the artist index on " + WideToUtf8(m_host.Ignore().LastHost())));
  }
  FinishWithoutOutput();
  return EXIT_NOT_FOUND;
}

int CCommandRunner::RunSongs() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  std::list<SongListEntry> songs;
  int code = ListSongs(artist, songs);
  if (code != EXIT_FOUND) return code;
  if (m_options.bJson) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SongListEntry& song : songs)
      list.push_back({{"title", WideToUtf8(song.Title)}, {"url", WideToUtf8(song.Url)}});
    Emit({{"artist", WideToUtf8(artist)}, {"songs", std::move(list)}});
  } else {
    std::string text;
    for (const SongListEntry& song : songs) text += OneLine(song.Title) + "\t" + OneLine(song.Url) + "\n";
    EmitText(text);
  }
  return EXIT_FOUND;
}

bool CCommandRunner::FetchLyrics(const std::wstring& url, CString& lyrics, std::string& reason) {
  SStats before = ReadStats();
  BOOL found = m_pPlugin->GetLyrics(url, lyrics);
  SStats after = ReadStats();
  if (found != 0 && !lyrics.IsEmpty()) return true;
  if (hostplatform::StopRequested())
    reason = "interrupted";
  else if (DownloadFailed(before, after))
    reason = DownloadFailure(Address(url));
  else
    reason = "no lyrics on " + Address(url) + " (the page has no lyrics box, or may not show these lyrics)";
  return false;
}

int CCommandRunner::RunLyrics() {
  std::wstring url;
  if (m_options.vecArgs.size() == 1) {
    url = Utf8ToWide(m_options.vecArgs[0]);
  } else {
    const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
    const std::wstring title = Utf8ToWide(m_options.vecArgs.at(1));
    std::list<SongListEntry> songs;
    int code = ListSongs(artist, songs);
    if (code != EXIT_FOUND) return code;
    std::vector<std::wstring> titles;
    std::vector<const SongListEntry*> entries;
    for (const SongListEntry& song : songs) {
      titles.push_back(song.Title);
      entries.push_back(&song);
    }
    STitleChoice choice = ChooseTitle(titles, title);
    const SongListEntry& song = *entries.at(choice.nIndex);
    if (!choice.bExact)
      PrintError("no song titled " + Quote(OneLine(title)) + " by " + Quote(OneLine(artist)) + "; using " +
                 Quote(OneLine(song.Title)));
    url = song.Url;
  }
  CString lyrics;
  std::string reason;
  if (!FetchLyrics(url, lyrics, reason)) {
    if (hostplatform::StopRequested()) return Interrupted();
    PrintError(reason);
    FinishWithoutOutput();
    return EXIT_NOT_FOUND;
  }
  if (m_options.bJson)
    Emit({{"url", WideToUtf8(url)}, {"lyrics", WideToUtf8(lyrics.Str())}});
  else
    EmitText(ToUnixLines(WideToUtf8(lyrics.Str())));
  return EXIT_FOUND;
}

int CCommandRunner::RunFetchAll() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  COutputTemplate layout;
  std::string error;
  if (!m_options.strTemplate.empty() && !layout.Parse(m_options.strTemplate, error)) {
    PrintError("--template: " + error);
    return EXIT_USAGE;
  }
  // The folder must take files before the first download is spent on it.
  COutputFolder folder(m_options.strOutDir);
  if (!folder.Prepare(error)) {
    PrintError(error);
    FinishWithoutOutput();
    return EXIT_NOT_FOUND;
  }
  std::list<SongListEntry> songs;
  int code = ListSongs(artist, songs);
  if (code != EXIT_FOUND) return code;

  CProgress progress(ChooseProgressStyle(hostplatform::StderrIsTerminal(), std::getenv("TERM"),
                                         m_options.bNoProgress, m_options.bQuiet));
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  size_t saved = 0, skipped = 0, failed = 0, done = 0;
  bool interrupted = false;
  bool writeFailed = false;
  for (const SongListEntry& song : songs) {
    if (hostplatform::StopRequested()) {
      interrupted = true;
      break;
    }
    progress.Update(done, songs.size(), OneLine(song.Title));
    const std::string address = WideToUtf8(song.Url);
    const std::string relative =
        layout.Expand(FieldsFromPageAddress(song.Url, artist, song.Title), address, folder.MaxComponentBytes());
    const COutputFolder::SPlacement placement = folder.Claim(address, relative);
    nlohmann::ordered_json file = {{"title", WideToUtf8(song.Title)}, {"url", address}, {"file", placement.strPath}};
    if (!m_options.bForce && placement.bSaved) {
      ++skipped;
      file["status"] = "skipped";
    } else {
      CString lyrics;
      std::string reason;
      bool ok = FetchLyrics(song.Url, lyrics, reason);
      if (!ok && hostplatform::StopRequested()) {
        interrupted = true;
        break;
      }
      if (ok && !folder.Save(placement, address, ToUnixLines(WideToUtf8(lyrics.Str())), reason)) {
        // A full disk or a lost folder fails every later song the same way.
        progress.Finish();
        PrintError(reason);
        ++failed;
        file["status"] = "failed";
        file["error"] = reason;
        files.push_back(std::move(file));
        writeFailed = true;
        break;
      }
      if (ok) {
        ++saved;
        file["status"] = "saved";
      } else {
        ++failed;
        file["status"] = "failed";
        file["error"] = reason;
        progress.Finish();
        PrintError(Quote(OneLine(song.Title)) + ": " + reason);
      }
    }
    files.push_back(std::move(file));
    ++done;
  }
  if (!interrupted && !writeFailed) progress.Update(done, songs.size(), "");
  progress.Finish();

  if (m_options.bJson) {
    Emit({{"artist", WideToUtf8(artist)},
          {"out", folder.Root()},
          {"template", layout.Text()},
          {"saved", saved},
          {"skipped", skipped},
          {"failed", failed},
          {"interrupted", interrupted},
          {"files", std::move(files)}});
  } else {
    EmitText("saved " + std::to_string(saved) + ", skipped " + std::to_string(skipped) + ", failed " +
             std::to_string(failed) + " (" + folder.Root() + ")\n");
  }
  if (interrupted) {
    PrintError("interrupted");
    return EXIT_INTERRUPTED;
  }
  return failed == 0 ? EXIT_FOUND : EXIT_NOT_FOUND;
}

CCommandRunner::SStats CCommandRunner::ReadStats() {
  SStats stats;
  m_pPlugin->GetProperty(L"StatisticDownloadCounter", &stats.nDownloads);
  m_pPlugin->GetProperty(L"StatisticSuccessfulDownloads", &stats.nSuccessful);
  m_pPlugin->GetProperty(L"StatisticTotalDownloadTime", &stats.nMilliseconds);
  return stats;
}

bool CCommandRunner::DownloadFailed(const SStats& before, const SStats& after) {
  return after.nDownloads - before.nDownloads > after.nSuccessful - before.nSuccessful;
}

std::string CCommandRunner::DownloadFailure(const std::string& address) const {
  std::string text = "download of " + address + " failed";
  if (m_options.strProxy.empty())
    text += "; if the wiki is reached through a proxy, name it with --proxy HOST:PORT";
  else
    text += " (through the proxy " + m_options.strProxy + ")";
  return text;
}

std::string CCommandRunner::IndexAddress(const std::wstring& artist) const {
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

std::string CCommandRunner::Address(const std::wstring& siteAddress) const {
  std::string text = OneLine(siteAddress);
  if (text.find("://") == std::string::npos) text = "http://" + text;
  return text;
}

void CCommandRunner::Emit(nlohmann::ordered_json document) {
  if (m_options.bStats) {
    SStats stats = ReadStats();
    document["stats"] = {{"downloads", stats.nDownloads},
                         {"successful_downloads", stats.nSuccessful},
                         {"download_time_ms", stats.nMilliseconds}};
  }
  WriteStdout(document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n", m_bOutputFailed);
}

void CCommandRunner::EmitText(const std::string& text) {
  WriteStdout(text, m_bOutputFailed);
  if (m_options.bStats) FinishWithoutOutput();
}

void CCommandRunner::FinishWithoutOutput() {
  if (!m_options.bStats) return;
  SStats stats = ReadStats();
  PrintError("downloads " + std::to_string(stats.nDownloads) + ", successful " + std::to_string(stats.nSuccessful) +
             ", download time " + std::to_string(stats.nMilliseconds) + " ms");
}

int CCommandRunner::Interrupted() {
  PrintError("interrupted");
  FinishWithoutOutput();
  return EXIT_INTERRUPTED;
}

}  // namespace cli

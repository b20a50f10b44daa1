#include "cli/app/Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <filesystem>

#include "cli/output/JsonError.h"
#include "cli/output/OutputFolder.h"
#include "cli/output/OutputTemplate.h"
#include "cli/sys/PathText.h"
#include "cli/host/PluginSetup.h"
#include "cli/sys/HostPlatform.h"
#include "cli/app/MusicLibraryCommands.h"
#include "cli/output/Progress.h"
#include "cli/sys/TextConvert.h"
#include "cli/lookup/TitleMatch.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

void WriteStdout(const std::string& text, bool& failed) {
  if (text.empty()) return;
  if (!hostplatform::WriteText(stdout, text)) failed = true;
}

// Song titles come from a page: keep control characters out of line output.
std::string OneLine(const std::wstring& text) {
  std::wstring clean(text);
  for (wchar_t& c : clean)
    if (c < 0x20 || c == 0x7F) c = L' ';
  return WideToUtf8(clean);
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

bool StdoutIntact(std::string& why) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return true;
  why = error != 0 ? std::error_code(error, std::generic_category()).message() : std::string("write error");
  return false;
}

int WithLostOutput(int code) {
  return code == EXIT_INTERRUPTED || code == EXIT_USAGE ? code : EXIT_WRITE;
}

void PrintError(const std::string& message) {
  std::string line = "versewell: " + message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  hostplatform::WriteText(stderr, line);
  std::fflush(stderr);
}

int PrintVersion(const SOptions& options) {
  const std::string path = options.strPlugin.empty() ? DefaultPluginPath() : options.strPlugin;
  std::map<std::string, std::string> info = ReadPluginInfo(path);
  const bool found = info.count("Version") != 0;
  std::string text;
  if (options.bJson) {
    nlohmann::ordered_json doc = {{"cli", VERSEWELL_CLI_VERSION},
                                  {"plugin", path},
                                  {"name", found && info.count("Name") != 0 ? nlohmann::ordered_json(info["Name"])
                                                                            : nlohmann::ordered_json()},
                                  {"version", found ? nlohmann::ordered_json(info["Version"]) : nlohmann::ordered_json()},
                                  {"found", found}};
    text = doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  } else {
    text = std::string("versewell ") + VERSEWELL_CLI_VERSION + "\n";
    if (found)
      text += "plug-in " + (info.count("Name") != 0 ? info["Name"] + " " : std::string()) + info["Version"] + ": " +
              Echo(path, 4096) + "\n";
    else
      text += "plug-in: not found (" + Echo(path, 4096) + ")\n";
  }
  bool failed = false;
  WriteStdout(text, failed);
  std::string why;
  if (StdoutIntact(why) && !failed) return EXIT_FOUND;
  PrintError("cannot write to standard output: " + (why.empty() ? std::string("write error") : why));
  return EXIT_WRITE;
}

CCommandRunner::CCommandRunner(const SOptions& options, CPluginLibrary& library)
    : m_options(options),
      m_library(library),
      m_host(Utf8ToWide(options.strProxy), options.fMaxDifference),
      m_trace(options) {}

CCommandRunner::~CCommandRunner() {
  if (m_pPlugin == nullptr) return;
  // Closes the trace log (and merges it into the parent log) before the
  // watch removes a private log folder.
  if (!m_trace.Folder().empty()) CloseAndMergeLog(*m_pPlugin, m_options);
  m_pLookup.reset();
  m_pPlugin->SetHostCallback(nullptr);
  delete m_pPlugin;
  if (!m_strRunCache.empty()) {
    std::error_code ignored;
    fs::remove_all(PathFromUtf8(m_strRunCache), ignored);
  }
}

int CCommandRunner::Run() {
  m_pPlugin = m_library.CreateObject();
  if (m_pPlugin == nullptr) {
    SFailure failure;
    PrintError("the plug-in " + m_library.Path() + " returned no object");
    return EXIT_USAGE;
  }
  if (!Configure()) return EXIT_USAGE;
  SLookupSettings settings;
  settings.nRetries = m_options.nRetries;
  settings.nDelayMs = m_options.nDelayMs;
  settings.bClosest = m_options.bClosest;
  settings.strProxy = m_options.strProxy;
  settings.nTimeoutMs = m_options.nTimeoutMs;
  settings.strCacheFolder = m_strCacheFolder;
  if (m_options.bVerbose) settings.fnRetryNote = [](const std::string& note) { PrintError(note); };
  m_pLookup = std::make_unique<CSongLookup>(*m_pPlugin, m_host, &m_trace, settings);
  int code = EXIT_NOT_FOUND;
  switch (m_options.eCommand) {
    case ECommand::Artist: code = RunArtist(); break;
    case ECommand::Songs: code = RunSongs(); break;
    case ECommand::Lyrics: code = RunLyrics(); break;
    case ECommand::FetchAll: code = RunFetchAll(); break;
    case ECommand::Batch: code = RunBatch(m_options, m_library, m_strCacheFolder, &m_trace); break;
    case ECommand::Library: code = RunLibrary(m_options, m_library, m_strCacheFolder, &m_trace); break;
    default: break;
  }
  if (m_options.bVerbose) {
    for (const auto& [host, counts] : m_host.Ignore().Hosts())
      PrintError("host ignore list: " + WideToUtf8(host) + " added " + std::to_string(counts.nAdded) +
                 " times, removed " + std::to_string(counts.nRemoved) + " times");
  }
  std::string why;
  if (!StdoutIntact(why) || m_bOutputFailed) {
    PrintError("cannot write to standard output: " + (why.empty() ? std::string("write error") : why));
    code = WithLostOutput(code);
  }
  return code;
}

bool CCommandRunner::Configure() {
  m_pPlugin->SetHostCallback(&m_host);
  std::string error;
  if (!m_trace.Setup(*m_pPlugin, error)) {
    PrintError(error);
    return false;
  }
  // Lyrics by page address look no artist up, so they need no artist
  // cache: neither its folder check (a file written and removed) nor the
  // private folder of --no-cache, each a noticeable part of a one-shot run.
  const bool addressOnly = m_options.eCommand == ECommand::Lyrics && m_options.vecArgs.size() == 1;
  if (!addressOnly) m_strCacheFolder = Utf8ToWide(ConfigureCache(*m_pPlugin, m_options, m_strRunCache));
  if (m_options.bVerbose) {
    PrintError("plug-in: " + m_library.Path());
    PrintError(DescribeProxy(m_options.strProxy, VERSEWELL_SITE_HOST, [](const char* name) { return std::getenv(name); }));
  }
  return true;
}

int CCommandRunner::Fail(const SFailure& failure) {
  PrintError(failure.strMessage);
  if (m_options.bJson)
    Emit(ErrorObject(failure));
  else
    FinishWithoutOutput();
  return ExitCodeOf(failure.eKind);
}

int CCommandRunner::RunArtist() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  std::wstring url;
  SFailure failure;
  if (m_pLookup->FindArtist(artist, url, failure) != EOutcome::Found) return Fail(failure);
  if (m_options.bJson)
    Emit({{"artist", WideToUtf8(PageArtist(url))}, {"query", WideToUtf8(artist)}, {"url", WideToUtf8(url)}});
  else
    EmitText(OneLine(url) + "\n");
  return EXIT_FOUND;
}

int CCommandRunner::RunSongs() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  std::wstring artistUrl;
  std::list<SongListEntry> songs;
  SFailure failure;
  EOutcome outcome = m_pLookup->ListSongs(artist, artistUrl, songs, failure);
  if (outcome != EOutcome::Found && (!failure.bNoSongs || m_options.bJson)) return Fail(failure);
  if (m_options.bJson) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SongListEntry& song : songs)
      list.push_back({{"title", WideToUtf8(song.Title)}, {"url", WideToUtf8(song.Url)}});
    Emit({{"artist", WideToUtf8(PageArtist(artistUrl))},
          {"query", WideToUtf8(artist)},
          {"url", WideToUtf8(artistUrl)},
          {"songs", std::move(list)}});
  } else {
    std::string text;
    for (const SongListEntry& song : songs) text += OneLine(song.Title) + "\t" + OneLine(song.Url) + "\n";
    EmitText(text);
  }
  if (failure.bNoSongs) {
    PrintError(failure.strMessage);
    return EXIT_NOT_FOUND;
  }
  return EXIT_FOUND;
}

int CCommandRunner::RunLyrics() {
  SFailure failure;
  if (m_options.vecArgs.size() == 1) {
    const std::wstring url = Utf8ToWide(m_options.vecArgs[0]);
    std::wstring lyrics;
    if (m_pLookup->FetchLyrics(url, lyrics, failure) != EOutcome::Found) return Fail(failure);
    if (m_options.bJson)
      Emit({{"artist", WideToUtf8(PageArtist(url))},
            {"title", WideToUtf8(PageName(url))},
            {"url", WideToUtf8(url)},
            {"match", "address"},
            {"lyrics", WideToUtf8(lyrics)}});
    else
      EmitText(ToUnixLines(WideToUtf8(lyrics)));
    return EXIT_FOUND;
  }
  SSong song;
  std::string note;
  EOutcome outcome =
      m_pLookup->FindSong(Utf8ToWide(m_options.vecArgs.at(0)), Utf8ToWide(m_options.vecArgs.at(1)), song, note, failure);
  if (!note.empty() && !m_options.bQuiet) PrintError(note);
  if (outcome != EOutcome::Found) return Fail(failure);
  if (m_options.bJson)
    Emit(SongObject(song));
  else
    EmitText(ToUnixLines(WideToUtf8(song.strLyrics)));
  return EXIT_FOUND;
}

// What a fetch-all run did, song by song.
struct CCommandRunner::SFetchAllRun {
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  size_t nSaved = 0;
  size_t nSkipped = 0;
  size_t nFailed = 0;
  size_t nDone = 0;
  bool bInterrupted = false;
  bool bWriteFailed = false;
  bool bNetworkFailure = false;
};

int CCommandRunner::RunFetchAll() {
  const std::wstring artist = Utf8ToWide(m_options.vecArgs.at(0));
  COutputTemplate layout;
  COutputFolder folder(m_options.strOutDir);
  if (std::optional<int> code = PrepareFetchAll(layout, folder)) return *code;
  std::list<SongListEntry> songs;
  std::wstring artistUrl;
  SFailure listFailure;
  if (m_pLookup->ListSongs(artist, artistUrl, songs, listFailure) != EOutcome::Found) return Fail(listFailure);
  SFetchAllRun run;
  FetchAllSongs(artist, songs, layout, folder, run);
  std::string indexError;
  if (!folder.Finish(indexError)) {
    PrintError(indexError);
    run.bWriteFailed = true;
  }
  return ReportFetchAll(artist, layout, folder, run);
}

// The layout, and a folder that takes files: checked before the first
// download is spent on them.
std::optional<int> CCommandRunner::PrepareFetchAll(COutputTemplate& layout, COutputFolder& folder) {
  std::string error;
  if (!m_options.strTemplate.empty() && !layout.Parse(m_options.strTemplate, error)) {
    PrintError("--template: " + error);
    return EXIT_USAGE;
  }
  // A folder that cannot take files is a bad --out, reported like any other
  // bad option.
  if (!folder.Prepare(error)) {
    PrintError("--out: " + error);
    if (m_options.bJson)
      Emit(JsonError(folder.Busy() ? EErrorKind::Write : EErrorKind::Usage, "--out: " + error));
    else
      FinishWithoutOutput();
    return folder.Busy() ? EXIT_WRITE : EXIT_USAGE;
  }
  return std::nullopt;
}

void CCommandRunner::FetchAllSongs(const std::wstring& artist, const std::list<SongListEntry>& songs,
                                   const COutputTemplate& layout, COutputFolder& folder, SFetchAllRun& run) {
  CProgress progress(ChooseProgressStyle(hostplatform::StderrIsTerminal(), std::getenv("TERM"),
                                         m_options.bNoProgress, m_options.bQuiet));
  for (const SongListEntry& song : songs) {
    if (hostplatform::StopRequested()) {
      run.bInterrupted = true;
      break;
    }
    progress.Update(run.nDone, songs.size(), OneLine(song.Title));
    if (!FetchOneSong(artist, song, layout, folder, progress, run)) break;
    ++run.nDone;
  }
  if (!run.bInterrupted && !run.bWriteFailed) progress.Update(run.nDone, songs.size(), "");
  progress.Finish();
}

// One song: skipped when saved before, else fetched and saved. False when
// the run must end here (interrupted, or a write that failed).
bool CCommandRunner::FetchOneSong(const std::wstring& artist, const SongListEntry& song,
                                  const COutputTemplate& layout, COutputFolder& folder, CProgress& progress,
                                  SFetchAllRun& run) {
  const std::string address = WideToUtf8(song.Url);
  const std::string relative =
      layout.Expand(FieldsFromPageAddress(song.Url, artist, song.Title), address, folder.MaxComponentBytes());
  COutputFolder::SPlacement placement = folder.Claim(address, relative);
  nlohmann::ordered_json file = {{"title", WideToUtf8(song.Title)}, {"url", address}, {"file", placement.strPath}};
  if (!m_options.bForce && placement.bSaved) {
    ++run.nSkipped;
    file["status"] = "skipped";
    run.files.push_back(std::move(file));
    return true;
  }
  std::wstring lyrics;
  SFailure failure;
  EOutcome outcome = m_pLookup->FetchLyrics(song.Url, lyrics, failure);
  if (outcome == EOutcome::Interrupted) {
    run.bInterrupted = true;
    return false;
  }
  bool ok = outcome == EOutcome::Found;
  std::string reason = failure.strMessage;
  if (outcome == EOutcome::Network) run.bNetworkFailure = true;
  const std::string content = ok ? ToUnixLines(WideToUtf8(lyrics)) : std::string();
  // A file a stopped run wrote without its index line is adopted here.
  if (ok && !placement.bSaved) placement = folder.Claim(address, relative, &content);
  if (ok) file["file"] = placement.strPath;
  if (ok && !folder.Save(placement, address, content, reason)) {
    // A full disk or a lost folder fails every later song the same way.
    progress.Finish();
    PrintError(reason);
    ++run.nFailed;
    file["status"] = "failed";
    file["error"] = reason;
    run.files.push_back(std::move(file));
    run.bWriteFailed = true;
    return false;
  }
  if (ok) {
    ++run.nSaved;
    file["status"] = "saved";
  } else {
    ++run.nFailed;
    file["status"] = "failed";
    file["error"] = reason;
    progress.Finish();
    PrintError(Quote(OneLine(song.Title)) + ": " + reason);
  }
  run.files.push_back(std::move(file));
  return true;
}

// The summary (one JSON object, or one line) and the exit code.
int CCommandRunner::ReportFetchAll(const std::wstring& artist, const COutputTemplate& layout,
                                   COutputFolder& folder, SFetchAllRun& run) {
  if (m_options.bJson) {
    Emit({{"artist", WideToUtf8(artist)},
          {"out", folder.Root()},
          {"template", layout.Text()},
          {"saved", run.nSaved},
          {"skipped", run.nSkipped},
          {"failed", run.nFailed},
          {"interrupted", run.bInterrupted},
          {"files", std::move(run.files)}});
  } else {
    const std::string reclaimed = DescribeReclaimed(folder.Reclaimed());
    EmitText("saved " + std::to_string(run.nSaved) + ", skipped " + std::to_string(run.nSkipped) + ", failed " +
             std::to_string(run.nFailed) + " (" + folder.Root() + ")" + (reclaimed.empty() ? "" : "; " + reclaimed) +
             "\n");
  }
  if (run.bInterrupted) {
    PrintError("interrupted");
    return EXIT_INTERRUPTED;
  }
  if (run.bWriteFailed) return EXIT_WRITE;
  if (run.nFailed == 0) return EXIT_FOUND;
  return run.bNetworkFailure ? EXIT_NETWORK : EXIT_NOT_FOUND;
}

void CCommandRunner::Emit(nlohmann::ordered_json document) {
  if (m_options.bStats) {
    SDownloadStats stats = m_pLookup->Stats();
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
  SDownloadStats stats = m_pLookup->Stats();
  PrintError("downloads " + std::to_string(stats.nDownloads) + ", successful " + std::to_string(stats.nSuccessful) +
             ", download time " + std::to_string(stats.nMilliseconds) + " ms");
}

}  // namespace cli

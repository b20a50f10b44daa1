#include "cli/app/MusicLibraryCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/output/AtomicFile.h"
#include "cli/output/JsonError.h"
#include "cli/input/AudioTags.h"
#include "cli/input/BatchInput.h"
#include "cli/app/Commands.h"
#include "cli/sys/HostPlatform.h"
#include "cli/input/MusicLibraryWalk.h"
#include "cli/output/OutputFolder.h"
#include "cli/output/OutputTemplate.h"
#include "cli/sys/PathText.h"
#include "cli/output/FileNames.h"
#include "cli/output/Progress.h"
#include "cli/output/RunMemory.h"
#include "cli/lookup/SearchPool.h"
#include "cli/sys/TextConvert.h"
#include "cli/output/SafeFile.h"

namespace cli {
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

// One song of the run, as planned before any download.
struct SPlanned {
  std::string strLabel;  // "line 3" or the audio file's path
  size_t nLine = 0;      // batch only
  std::string strAudioFile;  // library only
  std::string strTextFile;   // library without --embed
  std::string strSkip;       // non-empty: skipped before the search, why
  std::string strDryRunTarget;  // batch: where --dry-run says the lyrics would go
  bool bUnreadable = false;
  bool bRemembered = false;  // skipped because an earlier run found no lyrics
  bool bDone = false;        // skipped because its lyrics are already there
  std::string strArtist, strTitle;  // UTF-8 query
  std::string strEditTarget;          // library --embed: the file that changes (a link's target)
  safesys::SIdentity identity;        // of the file the tags were read from
};

struct SSummary {
  size_t nFound = 0, nNotFound = 0, nNetwork = 0, nSkipped = 0, nWritten = 0, nWriteFailed = 0;
  size_t nInstrumental = 0, nRemembered = 0;
  size_t nUnreadable = 0;  // audio files whose tags could not be read (counted as skipped too)
  bool bInterrupted = false;
  SReclaimed reclaimed;  // stale temporary files removed before the run
};

// A song the wiki lists as an instrumental piece: its title says so. The
// plug-in reports such a page only as one without lyrics.
bool IsInstrumental(const std::wstring& title) { return FoldCase(title).find(L"instrumental") != std::wstring::npos; }

std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
  return out;
}

std::string LyricsText(const std::wstring& lyrics, bool crlf, bool finalBreak) {
  std::string text = ToUnixLines(WideToUtf8(lyrics));
  if (!finalBreak && !text.empty() && text.back() == '\n') text.pop_back();
  if (!crlf) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Prints, counts and summarises what the pool reports; owns stdout and the
// progress line while the run lasts.
class CRunReporter {
 public:
  // `rememberSaved`: record the page each saved song came from (batch).
  CRunReporter(const SOptions& options, const std::vector<SPlanned>& plan, CRunMemory& memory,
               const SReclaimed& reclaimed, bool rememberSaved)
      : m_options(options),
        m_plan(plan),
        m_memory(memory),
        m_bRememberSaved(rememberSaved),
        m_progress(ChooseProgressStyle(hostplatform::StderrIsTerminal(), std::getenv("TERM"), options.bNoProgress,
                                       options.bQuiet)) {
    m_summary.reclaimed = reclaimed;
  }

  void Query(json& object, const SPlanned& song) {
    object["query"] = song.strArtist;
    object["query_title"] = song.strTitle;
    if (song.nLine > 0) object["line"] = song.nLine;
    if (!song.strAudioFile.empty()) object["path"] = song.strAudioFile;
  }

  void Skipped(const SPlanned& song) {
    ++(song.bRemembered ? m_summary.nRemembered : m_summary.nSkipped);
    ++m_nDone;
    if (m_options.bJsonl) {
      json object = {{"skipped", song.strSkip}};
      if (song.bRemembered) object["remembered"] = true;
      Query(object, song);
      Print(object);
    }
    // A song already done (or remembered) gets its line only when asked:
    // a rerun over a large library would otherwise print one per song. A
    // file the run cannot use is always named.
    const bool done = song.bDone || song.bRemembered;
    if (song.bUnreadable) {
      ++m_summary.nUnreadable;
      Error(song.strLabel + ": " + song.strSkip);
    } else if (!m_options.bJsonl && (done ? m_options.bVerbose : !m_options.bQuiet)) {
      Note("skipped " + song.strLabel + ": " + song.strSkip);
    }
  }

  // Reports one finished song. The pool stops starting songs after
  // --max-failures network failures in a row; the reporter names the cause.
  void Report(const SSongOutcome& outcome) {
    const SPlanned& song = m_plan[outcome.nIndex];
    const SSongResult& r = outcome.result;
    const std::string who = song.strLabel + " (" + song.strArtist + " - " + song.strTitle + ")";
    m_strCurrent = song.strArtist + " - " + song.strTitle;
    m_strRetry.clear();
    if (r.eOutcome == EOutcome::Interrupted) {
      m_summary.bInterrupted = true;
      return;  // not a result: the song did not finish
    }
    ++m_nDone;
    if (r.eOutcome == EOutcome::Network) {
      ++m_nNetworkInRow;
      m_strLastNetwork = r.failure.strCause.empty() ? r.failure.strMessage : r.failure.strCause;
    } else {
      m_nNetworkInRow = 0;
    }
    json object;
    if (r.eOutcome == EOutcome::Found && r.bSkipped) {
      ++m_summary.nSkipped;
      object = {{"skipped", r.strSkipReason}, {"url", WideToUtf8(r.song.strUrl)}};
      if (m_options.bVerbose && !m_options.bJsonl) Note("skipped " + song.strLabel + ": " + r.strSkipReason);
    } else if (r.eOutcome == EOutcome::Found) {
      ++m_summary.nFound;
      if (!r.strNote.empty() && !m_options.bQuiet) Note(who + ": " + r.strNote);
      object = {{"artist", WideToUtf8(r.song.strArtist)}, {"title", WideToUtf8(r.song.strTitle)},
                {"url", WideToUtf8(r.song.strUrl)},       {"match", r.song.strMatch}};
      json form = FormObject(r.song);
      if (!form.is_null()) object["form"] = std::move(form);
      object["lyrics"] = WideToUtf8(r.song.strLyrics);
      if (outcome.delivery.bWritten) {
        ++m_summary.nWritten;
        object["file"] = outcome.delivery.strFile;
      }
      if (outcome.delivery.bFailed) {
        ++m_summary.nWriteFailed;
        ++m_nFailures;
        Error(who + ": " + outcome.delivery.strMessage);
        object = JsonError(EErrorKind::Write, outcome.delivery.strMessage, WideToUtf8(r.song.strUrl));
      }
    } else if (r.eOutcome == EOutcome::NotFound && r.failure.bNoLyrics &&
               (IsInstrumental(r.song.strTitle) || IsInstrumental(Utf8ToWide(song.strTitle)))) {
      // No words to fetch: reported as what it is, and no failure.
      ++m_summary.nInstrumental;
      if (!m_options.bQuiet) Note(who + ": instrumental, no lyrics (" + WideToUtf8(r.song.strUrl) + ")");
      object = {{"artist", WideToUtf8(r.song.strArtist)}, {"title", WideToUtf8(r.song.strTitle)},
                {"url", WideToUtf8(r.song.strUrl)},       {"match", r.song.strMatch},
                {"instrumental", true}};
      m_memory.Record(CRunMemory::EKind::Instrumental, song.strArtist, song.strTitle);
    } else {
      ++(r.eOutcome == EOutcome::Network ? m_summary.nNetwork : m_summary.nNotFound);
      ++m_nFailures;
      Error(who + ": " + r.failure.strMessage);
      object = ErrorObject(r.failure);
      if (r.eOutcome == EOutcome::NotFound)
        m_memory.Record(r.failure.bNoLyrics ? CRunMemory::EKind::Withheld : CRunMemory::EKind::Missing,
                        song.strArtist, song.strTitle);
    }
    if (r.eOutcome == EOutcome::Found && !outcome.delivery.bFailed) {
      if (m_bRememberSaved && (r.bSkipped || outcome.delivery.bWritten)) {
        CRunMemory::SEntry saved;
        saved.strArtist = song.strArtist;
        saved.strTitle = song.strTitle;
        saved.strAddress = WideToUtf8(r.song.strUrl);
        saved.strPageArtist = WideToUtf8(r.song.strArtist);
        saved.strPageTitle = WideToUtf8(r.song.strTitle);
        m_memory.RecordSaved(std::move(saved));
      } else {
        m_memory.Forget(song.strArtist, song.strTitle);
      }
    }
    if (m_options.bJsonl) {
      Query(object, song);
      Print(object);
    }
    Tick();
    if (m_options.nMaxFailures > 0 && m_nNetworkInRow >= m_options.nMaxFailures) m_bGaveUp = true;
  }

  // A worker's retry note; any thread. Shown by the next Tick.
  void RetryNote(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_notesMutex);
    m_vecRetryNotes.push_back(text);
  }

  void Tick() {
    std::vector<std::string> notes;
    {
      std::lock_guard<std::mutex> lock(m_notesMutex);
      notes.swap(m_vecRetryNotes);
    }
    for (const std::string& note : notes) {
      if (m_options.bVerbose) Note(note);
      m_strRetry = note;
    }
    std::string text = m_strRetry.empty() ? m_strCurrent : m_strRetry;
    if (m_nFailures > 0) text = std::to_string(m_nFailures) + " failed | " + text;
    m_progress.Update(m_nDone, m_plan.size(), text);
  }

  // The summary on standard error; returns the exit code.
  int Finish(const SDownloadCounts* counts) {
    m_progress.Finish();
    if (hostplatform::StopRequested()) m_summary.bInterrupted = true;
    if (m_summary.bInterrupted) Error("interrupted");
    if (m_bGaveUp && !m_summary.bInterrupted)
      Error("gave up after " + std::to_string(m_nNetworkInRow) + " network failures in a row (" + m_strLastNetwork +
            "); " + std::to_string(m_plan.size() - m_nDone) + " songs not done (--max-failures sets the limit)");
    if (!m_options.bQuiet || m_summary.bInterrupted) {
      std::string line = "found " + std::to_string(m_summary.nFound) + ", not on the wiki " +
                         std::to_string(m_summary.nNotFound) + ", network failures " +
                         std::to_string(m_summary.nNetwork) + ", skipped " + std::to_string(m_summary.nSkipped) +
                         ", written " + std::to_string(m_summary.nWritten);
      if (m_summary.nWriteFailed > 0) line += ", not written " + std::to_string(m_summary.nWriteFailed);
      if (m_summary.nInstrumental > 0) line += ", instrumental " + std::to_string(m_summary.nInstrumental);
      if (m_summary.nRemembered > 0)
        line += ", remembered without lyrics " + std::to_string(m_summary.nRemembered) + " (--retry-missing)";
      if (m_summary.bInterrupted || m_bGaveUp) line += ", not done " + std::to_string(m_plan.size() - m_nDone);
      if (m_summary.reclaimed.nFiles > 0) line += "; " + DescribeReclaimed(m_summary.reclaimed);
      Note(line);
    }
    if (m_options.bStats && counts != nullptr) {
      unsigned total = counts->nLookupsAndLists + counts->nLyrics;
      Note("downloads " + std::to_string(total) + " = artist lookups " +
           std::to_string(counts->nLookupsAndLists - counts->nLists) + " + song lists " +
           std::to_string(counts->nLists) + " + lyrics pages " + std::to_string(counts->nLyrics) + " (failed " +
           std::to_string(counts->nFailed) + ")");
    }
    std::string why;
    if (!m_options.bDryRun && !m_memory.Save(why)) {
      Error(why);
      if (!m_summary.bInterrupted) m_bMemoryFailed = true;
    }
    why.clear();
    if (!StdoutIntact(why) || m_bOutputFailed) {
      Error(std::string("cannot write to standard output") + (m_options.bJsonl ? " (the JSON-lines stream)" : "") +
            ": " + (!m_strOutputError.empty() ? m_strOutputError : !why.empty() ? why : "write error"));
      if (!m_summary.bInterrupted) return EXIT_WRITE;
    }
    if (m_summary.bInterrupted) return EXIT_INTERRUPTED;
    if (m_bMemoryFailed || m_summary.nWriteFailed > 0) return EXIT_WRITE;
    if (m_summary.nNetwork > 0) return EXIT_NETWORK;
    if (m_summary.nNotFound > 0 || m_summary.nUnreadable > 0) return EXIT_NOT_FOUND;
    return EXIT_FOUND;
  }

  void Print(const json& object) {
    std::string line = object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    m_progress.Finish();
    PlainOut(line);
    // Each line is flushed so that a reader sees the song as soon as it ends.
    errno = 0;
    if (std::fflush(stdout) != 0) OutputFailed();
  }

  // Every line of a run on stderr carries the same "versewell: " prefix,
  // notes and the summary as well as errors.
  void Note(const std::string& text) {
    m_progress.Finish();
    PrintError(Visible(text));
  }

  void Error(const std::string& text) {
    m_progress.Finish();
    PrintError(Visible(text));
  }

  void PlainOut(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) OutputFailed();
  }

  // The first failed write's reason is kept: later ones only repeat it.
  void OutputFailed() {
    if (!m_bOutputFailed && errno != 0) m_strOutputError = std::error_code(errno, std::generic_category()).message();
    m_bOutputFailed = true;
  }

 private:
  const SOptions& m_options;
  const std::vector<SPlanned>& m_plan;
  CRunMemory& m_memory;
  const bool m_bRememberSaved;
  bool m_bMemoryFailed = false;
  CProgress m_progress;
  SSummary m_summary;
  size_t m_nDone = 0;
  size_t m_nFailures = 0;
  std::string m_strCurrent;
  bool m_bOutputFailed = false;
  std::string m_strOutputError;
  size_t m_nNetworkInRow = 0;    // network failures since the last song that reached the wiki
  std::string m_strLastNetwork;  // the cause of the last one
  bool m_bGaveUp = false;
  std::mutex m_notesMutex;
  std::vector<std::string> m_vecRetryNotes;  // guarded by m_notesMutex
  std::string m_strRetry;        // the latest retry note, shown on the progress line
};

SPoolConfig PoolConfig(const SOptions& options, const std::wstring& cacheFolder, CTraceWatch* trace) {
  SPoolConfig config;
  config.nJobs = options.nJobs;
  config.nDelayMs = options.nDelayMs;
  config.lookup.bClosest = options.bClosest;
  config.lookup.nRetries = options.nRetries;
  config.lookup.strProxy = options.strProxy;
  config.lookup.nTimeoutMs = options.nTimeoutMs;
  config.lookup.strCacheFolder = cacheFolder;
  config.nMaxNetworkFailures = options.nMaxFailures;
  config.pTrace = trace;
  config.strProxy = Utf8ToWide(options.strProxy);
  config.fMaxDifference = options.fMaxDifference;
  config.strCacheFolder = cacheFolder;
  return config;
}

// The file a song of the list was saved to by an earlier run, from its
// memory entry: empty when that file is gone or no longer the page's.
using FSavedFile = std::function<std::string(const CRunMemory::SEntry&)>;

// What the memory of earlier runs decides about one song before any
// download. A real run and a dry run both plan through here, so a dry run
// skips exactly what the real run skips: songs saved before (unless
// --force), and songs found without lyrics (unless --retry-missing or
// --force).
void DecideFromMemory(const SOptions& options, const CRunMemory& memory, const FSavedFile& savedFile,
                      SPlanned& song) {
  if (!song.strSkip.empty() || options.bForce) return;
  std::optional<CRunMemory::SEntry> entry = memory.Find(song.strArtist, song.strTitle);
  if (!entry) return;
  if (entry->eKind == CRunMemory::EKind::Saved) {
    const std::string path = savedFile ? savedFile(*entry) : std::string();
    if (path.empty()) return;  // deleted, or another page's now: fetched again
    song.strSkip = "already saved as " + path;
    song.bDone = true;
    return;
  }
  if (options.bRetryMissing) return;
  song.bRemembered = true;
  song.strSkip = std::string(CRunMemory::KindName(entry->eKind)) + " on " + entry->strDate +
                 " (--retry-missing looks it up again)";
}

// Runs the planned songs that are not skipped; returns the exit code.
// `savedFile` (batch with --out) finds files saved by earlier runs; a run
// with it also remembers the page each song was saved from.
int RunPlan(const SOptions& options, CPluginLibrary& library, const std::wstring& cacheFolder, CTraceWatch* trace,
            std::vector<SPlanned>& plan, CRunMemory& memory, const CSearchPool::FCheck& check,
            const CSearchPool::FDeliver& deliver, const SReclaimed& reclaimed, const FSavedFile& savedFile) {
  std::string error;
  if (!memory.Load(error)) PrintError(error + "; every song is looked up");
  for (SPlanned& song : plan) DecideFromMemory(options, memory, savedFile, song);
  CRunReporter reporter(options, plan, memory, reclaimed, static_cast<bool>(savedFile));
  std::vector<SSongJob> jobs;
  std::vector<size_t> planIndex;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (!plan[i].strSkip.empty()) {
      reporter.Skipped(plan[i]);
      continue;
    }
    jobs.push_back({Utf8ToWide(plan[i].strArtist), Utf8ToWide(plan[i].strTitle)});
    planIndex.push_back(i);
  }
  if (options.bDryRun) {
    for (size_t i : planIndex) {
      const SPlanned& song = plan[i];
      std::string target = !song.strTextFile.empty()      ? song.strTextFile
                           : !song.strDryRunTarget.empty() ? song.strDryRunTarget
                                                           : "the tag of " + song.strAudioFile;
      if (options.bJsonl) {
        json object = {{"dry_run", true}, {"file", target}};
        reporter.Query(object, song);
        reporter.Print(object);
      } else {
        reporter.PlainOut("would fetch " + Visible(song.strArtist + " - " + song.strTitle) + " -> " + Visible(target) +
                          "\n");
      }
    }
    return reporter.Finish(nullptr);
  }

  SPoolConfig config = PoolConfig(options, cacheFolder, trace);
  config.lookup.fnRetryNote = [&reporter](const std::string& note) { reporter.RetryNote(note); };
  CSearchPool pool(library, std::move(config));
  bool ran = pool.Run(
      jobs,
      check ? CSearchPool::FCheck([&](size_t job, const SSongResult& r) { return check(planIndex[job], r); })
            : CSearchPool::FCheck(),
      [&](size_t job, const SSongResult& r) { return deliver(planIndex[job], r); },
      [&](const SSongOutcome& outcome) {
        SSongOutcome mapped = outcome;
        mapped.nIndex = planIndex[outcome.nIndex];
        reporter.Report(mapped);
      },
      [&] { reporter.Tick(); }, error);
  if (!ran) {
    reporter.Error(error);
    return EXIT_USAGE;
  }
  return reporter.Finish(&pool.Counts());
}

}  // namespace

int RunBatch(const SOptions& options, CPluginLibrary& library, const std::wstring& cacheFolder, CTraceWatch* trace) {
  const std::string& source = options.vecArgs.empty() ? std::string("-") : options.vecArgs[0];
  const std::string sourceName = source == "-" ? std::string("standard input") : source;
  SBatchInput input;
  {
    int code = 0;
    if (source == "-" && hostplatform::StdinIsTerminal() && !options.bQuiet) {
      // Typing songs by hand is allowed, but a user who meant to pipe a file
      // in should not face a silent wait.
      PrintError("reading songs from the terminal, one \"Artist<TAB>Title\" or \"Artist - Title\" per line; "
                 "end with Ctrl-D (Ctrl-Z and Enter on Windows), or give a file: versewell batch FILE");
    }
    safesys::Handle handle = source == "-" ? safesys::StandardInput() : safesys::OpenForReading(source, code);
    if (handle == safesys::NO_HANDLE) {
      PrintError("cannot read " + source + ": " + safesys::ErrorText(code));
      return EXIT_USAGE;
    }
    CLineReader reader(
        [handle](char* buffer, size_t size, std::string& error) -> long long {
          int failure = 0;
          long long n = safesys::ReadUnlessStopped(handle, buffer, size, failure);
          if (n == -1) error = safesys::ErrorText(failure);
          return n;
        },
        MAX_BATCH_LINE_BYTES + 1);  // + 1: room for a CR before the LF
    input = ReadBatchInput(reader);
    if (source != "-") safesys::Close(handle);
  }
  if (input.bStopped) {
    PrintError("interrupted");
    return EXIT_INTERRUPTED;
  }
  if (input.bBinary) {
    PrintError(sourceName + " is not a text list (it holds a NUL byte; UTF-16 needs a byte-order mark)");
    return EXIT_USAGE;
  }
  if (!input.strReadError.empty()) {
    PrintError("cannot read " + sourceName + ": " + input.strReadError);
    return EXIT_USAGE;
  }
  for (const SBatchProblem& problem : input.vecProblems)
    PrintError(sourceName + ", line " + std::to_string(problem.nLine) + ": " + problem.strReason + "; line skipped");
  std::string error;
  COutputTemplate layout;
  if (!options.strTemplate.empty() && !layout.Parse(options.strTemplate, error)) {
    PrintError("--template: " + error);
    return EXIT_USAGE;
  }
  // The folder must take files before the first download is spent on it.
  COutputFolder folder(options.strOutDir.empty() ? std::string(".") : options.strOutDir);
  const bool saving = !options.strOutDir.empty();
  if (saving && !options.bDryRun && !folder.Prepare(error)) {
    PrintError(error);
    return EXIT_WRITE;
  }
  // A dry run reads the index as it stands, to know what is saved there.
  if (saving && options.bDryRun && !folder.Inspect(error)) {
    PrintError(error);
    return EXIT_WRITE;
  }

  std::vector<SPlanned> plan;
  for (const SBatchSong& song : input.vecSongs) {
    SPlanned planned;
    planned.strLabel = "line " + std::to_string(song.nLine);
    planned.nLine = song.nLine;
    planned.strArtist = song.strArtist;
    planned.strTitle = song.strTitle;
    planned.strDryRunTarget =
        saving ? Utf8FromPath(PathFromUtf8(options.strOutDir) /
                              PathFromUtf8(layout.Expand({Utf8ToWide(song.strArtist), Utf8ToWide(song.strTitle)},
                                                         song.strArtist + "\t" + song.strTitle,
                                                         hostplatform::MaxFileNameBytes(options.strOutDir))))
               : "standard output";
    plan.push_back(std::move(planned));
  }
  auto place = [&](const SSongResult& r, const std::string* content) {
    const std::string address = WideToUtf8(r.song.strUrl);
    const std::string relative =
        layout.Expand(FieldsFromPageAddress(r.song.strUrl, r.song.strArtist, r.song.strTitle), address,
                      folder.MaxComponentBytes());
    return folder.Claim(address, relative, content);
  };
  CSearchPool::FCheck check;
  if (saving && !options.bForce)
    check = [&place](size_t, const SSongResult& r) {
      COutputFolder::SPlacement placement = place(r, nullptr);
      return placement.bSaved ? "already saved as " + placement.strPath : std::string();
    };
  auto deliver = [&](size_t, const SSongResult& r) {
    SDelivery delivery;
    if (!saving) return delivery;
    const std::string content = LyricsText(r.song.strLyrics, options.bCrlf, true);
    COutputFolder::SPlacement placement = place(r, &content);
    std::string reason;
    if (folder.Save(placement, WideToUtf8(r.song.strUrl), content, reason)) {
      delivery.bWritten = true;
      delivery.strFile = placement.strPath;
    } else {
      delivery.bFailed = true;
      delivery.strMessage = reason;
    }
    return delivery;
  };
  // A song saved before is known by the page it was saved from: its file
  // is where the template puts that page now, and the index says it holds
  // that page (what the check after a search asks, without the search).
  FSavedFile savedFile;
  if (saving)
    savedFile = [&](const CRunMemory::SEntry& entry) {
      const std::string relative =
          layout.Expand(FieldsFromPageAddress(Utf8ToWide(entry.strAddress), Utf8ToWide(entry.strPageArtist),
                                              Utf8ToWide(entry.strPageTitle)),
                        entry.strAddress, folder.MaxComponentBytes());
      COutputFolder::SPlacement placement = folder.Claim(entry.strAddress, relative);
      return placement.bSaved ? placement.strPath : std::string();
    };
  CRunMemory memory(saving ? options.strOutDir : std::string());
  int code =
      RunPlan(options, library, cacheFolder, trace, plan, memory, check, deliver, folder.Reclaimed(), savedFile);
  // A line skipped for its length means the list is not what its writer
  // meant; a script must hear of it.
  if (code == EXIT_FOUND && ((!input.vecProblems.empty() && plan.empty()) || input.nTooLong > 0))
    code = EXIT_NOT_FOUND;
  if (saving && !options.bDryRun && !folder.Finish(error)) {
    PrintError(error);
    if (code == EXIT_FOUND || code == EXIT_NOT_FOUND) code = EXIT_WRITE;
  }
  return code;
}

int RunLibrary(const SOptions& options, CPluginLibrary& library, const std::wstring& cacheFolder,
               CTraceWatch* trace) {
  const std::string& root = options.vecArgs.at(0);
  SMusicLibraryWalk walk = WalkMusicLibrary(root);
  bool rootMissing = walk.vecFiles.empty() && walk.vecProblems.size() == 1 && walk.vecProblems[0].strPath == root;
  for (const SWalkProblem& problem : walk.vecProblems) PrintError(problem.strPath + ": " + problem.strReason);
  if (rootMissing) return EXIT_USAGE;

  // Folders this run writes into: edits cut short by a kill are put back,
  // and stale temporary files of this program are removed, before anything
  // else happens there.
  SReclaimed reclaimed;
  if (!options.bDryRun) {
    std::set<std::string> folders;
    for (const std::string& file : walk.vecFiles) {
      folders.insert(FolderOf(file));
      const std::string target = safesys::ResolvedPath(file);
      if (!target.empty()) folders.insert(FolderOf(target));
    }
    std::vector<std::string> notes;
    for (const std::string& folder : folders) {
      RecoverJournals(folder, notes);
      RemoveStaleTemporaries(folder, reclaimed);
    }
    for (const std::string& note : notes) PrintError(note);
  }
  std::string rootTarget = safesys::ResolvedPath(root);
  if (!rootTarget.empty() && rootTarget.back() != '/' && rootTarget.back() != '\\') rootTarget += '/';

  std::vector<SPlanned> plan;
  std::map<std::string, std::string> textOwners;  // .txt path -> the audio file that writes it
  std::map<std::string, std::string> editOwners;  // edited file (device:inode) -> the name it was reached by first
  // With --jsonl and without --embed the run writes no file at all: no
  // .txt beside a song, and no memory of songs without lyrics.
  const bool streamOnly = options.bJsonl && !options.bEmbed;
  for (const std::string& file : walk.vecFiles) {
    SPlanned planned;
    planned.strLabel = file;
    planned.strAudioFile = file;
    planned.strEditTarget = file;
    if (options.bEmbed) {
      // The file a link leads to is the one that changes, in its own folder;
      // a link out of the library changes nothing unless asked.
      const std::string target = safesys::ResolvedPath(file);
      if (target.empty()) {
        planned.strSkip = "cannot resolve the file's path";
        plan.push_back(std::move(planned));
        continue;
      }
      planned.strEditTarget = target;
      if (!options.bFollowLinks && target.compare(0, rootTarget.size(), rootTarget) != 0) {
        planned.strSkip = "a link to " + target + ", outside the library (--follow-links edits it)";
        plan.push_back(std::move(planned));
        continue;
      }
      // (Read only: a dry run asks as well, so it skips what a real run skips.)
      if (!options.bChownOk) {
        int code = 0;
        safesys::Handle handle = safesys::OpenRegular(target, false, false, code);
        bool keepable = handle != safesys::NO_HANDLE && safesys::CanKeepOwner(handle);
        safesys::Close(handle);
        if (handle != safesys::NO_HANDLE && !keepable) {
          planned.strSkip = "its owner or group cannot be kept (--chown-ok edits it anyway)";
          plan.push_back(std::move(planned));
          continue;
        }
      }
    }
    SAudioTags tags = ReadAudioTags(planned.strEditTarget);
    if (options.bEmbed && tags.bReadable) {
      // Links and hard links: one file under several names is edited once.
      const std::string key = "inode " + std::to_string(tags.identity.nDevice) + ":" +
                              std::to_string(tags.identity.nInode);
      auto owner = editOwners.find(key);
      if (owner != editOwners.end()) {
        planned.strSkip = "the same file as " + owner->second;
        plan.push_back(std::move(planned));
        continue;
      }
      editOwners.emplace(key, file);
    }
    std::error_code lrcError;
    planned.strArtist = tags.strArtist;
    planned.strTitle = tags.strTitle;
    planned.identity = tags.identity;
    if (!tags.bReadable) {
      planned.strSkip = "cannot read the tags: " + tags.strError;
      planned.bUnreadable = true;
    } else if (tags.strArtist.empty() || tags.strTitle.empty()) {
      planned.strSkip = tags.strArtist.empty() && tags.strTitle.empty() ? "no artist and no title tag"
                        : tags.strArtist.empty()                        ? "no artist tag"
                                                                        : "no title tag";
    } else if (!options.bForce && fs::exists(PathFromUtf8(file).replace_extension(".lrc"), lrcError)) {
      planned.strSkip = "already has " + Utf8FromPath(PathFromUtf8(file).replace_extension(".lrc")) +
                        " (--force fetches anyway)";
      planned.bDone = true;
    } else if (options.bEmbed) {
      if (tags.bHasLyrics && !options.bForce) {
        planned.strSkip = "already has lyrics in its tag (--force replaces them)";
        planned.bDone = true;
      }
    } else if (streamOnly) {
      // --jsonl alone: the lyrics go to standard output and nowhere else.
      planned.strDryRunTarget = "standard output";
    } else {
      planned.strTextFile = Utf8FromPath(PathFromUtf8(file).replace_extension(".txt"));
      std::error_code ec;
      auto owner = textOwners.find(planned.strTextFile);
      if (owner != textOwners.end())
        planned.strSkip = "shares " + planned.strTextFile + " with " + owner->second;
      else if (!options.bForce && fs::exists(PathFromUtf8(planned.strTextFile), ec)) {
        planned.strSkip = "already has " + planned.strTextFile + " (--force replaces it)";
        planned.bDone = true;
      }
      textOwners.emplace(planned.strTextFile, file);
    }
    plan.push_back(std::move(planned));
  }

  auto deliver = [&](size_t index, const SSongResult& r) {
    const SPlanned& song = plan[index];
    SDelivery delivery;
    std::string reason;
    if (options.bEmbed) {
      SEditRules rules;
      rules.pExpected = &song.identity;
      rules.bChownOk = options.bChownOk;
      delivery.bWritten =
          EmbedLyrics(song.strEditTarget, LyricsText(r.song.strLyrics, options.bCrlf, false), reason, rules);
      delivery.strFile = song.strAudioFile;
    } else if (!song.strTextFile.empty()) {
      delivery.bWritten = WriteFileAtomically(song.strTextFile, LyricsText(r.song.strLyrics, options.bCrlf, true), reason);
      delivery.strFile = song.strTextFile;
    } else {
      return delivery;  // stream only
    }
    delivery.bFailed = !delivery.bWritten;
    delivery.strMessage = reason;
    return delivery;
  };
  std::error_code ec;
  const bool rootIsFolder = fs::is_directory(PathFromUtf8(root), ec);
  CRunMemory memory(streamOnly ? std::string() : rootIsFolder ? root : Utf8FromPath(PathFromUtf8(root).parent_path()));
  return RunPlan(options, library, cacheFolder, trace, plan, memory, CSearchPool::FCheck(), deliver, reclaimed,
                 FSavedFile());
}

}  // namespace cli

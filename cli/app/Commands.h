// Runs one command of the versewell program against a loaded plug-in.
//
// CCommandRunner creates one plug-in object, registers the host callback,
// sets the properties the options ask for, runs the command, prints its
// result on standard output (text or one JSON object) and its errors as
// single "versewell: " lines on standard error, and returns the exit code.
// At the end it merges the trace log into the parent log when a log folder
// was given, and deletes the plug-in object.
//
// Ownership: the runner borrows the library and owns the plug-in object.
// Failure: every failure becomes an exit code and one error line; nothing
// escapes as an exception except std::bad_alloc.
// Threads: the main thread; signals only set the stop flag.
#ifndef VERSEWELL_CLI_COMMANDS_H
#define VERSEWELL_CLI_COMMANDS_H

#include <list>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/host/CliHost.h"
#include "cli/app/Options.h"
#include "cli/host/PluginLibrary.h"
#include "cli/lookup/SongLookup.h"
#include "cli/host/TraceWatch.h"

namespace cli {

class COutputFolder;
class COutputTemplate;
class CProgress;

// Writes "versewell: " + message + LF to standard error.
void PrintError(const std::string& message);

// Flushes standard output and tells whether everything written to it since
// the start arrived. On false, `why` names the system's reason. A write that
// failed earlier is caught too (the stream's error flag is sticky).
bool StdoutIntact(std::string& why);

// The exit code of a run whose own outcome is `code` when its standard
// output was lost: EXIT_WRITE, unless the run was interrupted or was a usage
// error (those say more about what happened).
int WithLostOutput(int code);

// `versewell --version`: the CLI's version, and the plug-in's path and
// version read from its file without loading it ("not found" when there is
// none). Exit 0, or EXIT_WRITE when standard output could not be written.
int PrintVersion(const SOptions& options);

class CCommandRunner {
 public:
  CCommandRunner(const SOptions& options, CPluginLibrary& library);
  ~CCommandRunner();
  CCommandRunner(const CCommandRunner&) = delete;
  CCommandRunner& operator=(const CCommandRunner&) = delete;

  int Run();

 private:
  bool Configure();
  int RunArtist();
  int RunSongs();
  int RunLyrics();
  int RunFetchAll();
  // fetch-all, step by step.
  struct SFetchAllRun;
  std::optional<int> PrepareFetchAll(COutputTemplate& layout, COutputFolder& folder);
  void FetchAllSongs(const std::wstring& artist, const std::list<SongListEntry>& songs, const COutputTemplate& layout,
                     COutputFolder& folder, SFetchAllRun& run);
  bool FetchOneSong(const std::wstring& artist, const SongListEntry& song, const COutputTemplate& layout,
                    COutputFolder& folder, CProgress& progress, SFetchAllRun& run);
  int ReportFetchAll(const std::wstring& artist, const COutputTemplate& layout, COutputFolder& folder,
                     SFetchAllRun& run);

  // Prints a JSON document (with "stats" added when asked) or, in text mode,
  // the statistics on standard error.
  void Emit(nlohmann::ordered_json document);
  void EmitText(const std::string& text);
  // Reports a failure: the error line on stderr, and in JSON mode the error
  // object on stdout. Returns the outcome's exit code.
  int Fail(const SFailure& failure);
  void FinishWithoutOutput();

  const SOptions& m_options;
  CPluginLibrary& m_library;
  CCliHost m_host;
  CTraceWatch m_trace;
  CLyricsDllInterface* m_pPlugin = nullptr;
  std::unique_ptr<CSongLookup> m_pLookup;
  bool m_bOutputFailed = false;
  std::wstring m_strCacheFolder;
  std::string m_strRunCache;  // --no-cache: this run's own cache folder, deleted at the end  // absolute; empty without an artist cache
};

}  // namespace cli

#endif  // VERSEWELL_CLI_COMMANDS_H

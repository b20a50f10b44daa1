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
#include <string>

#include <nlohmann/json.hpp>

#include "cli/CliHost.h"
#include "cli/Options.h"
#include "cli/PluginLibrary.h"

namespace cli {

// Writes "versewell: " + message + LF to standard error.
void PrintError(const std::string& message);

class CCommandRunner {
 public:
  CCommandRunner(const SOptions& options, CPluginLibrary& library);
  ~CCommandRunner();
  CCommandRunner(const CCommandRunner&) = delete;
  CCommandRunner& operator=(const CCommandRunner&) = delete;

  int Run();

 private:
  struct SStats {
    unsigned int nDownloads = 0;
    unsigned int nSuccessful = 0;
    unsigned int nMilliseconds = 0;
  };

  bool Configure();
  int RunVersion();
  int RunArtist();
  int RunSongs();
  int RunLyrics();
  int RunFetchAll();

  // Lists the artist's songs; on failure prints the reason and returns the
  // exit code (EXIT_FOUND on success).
  int ListSongs(const std::wstring& artist, std::list<SongListEntry>& songs);
  // Fetches one song's lyrics; on failure fills `reason` with a one-line text.
  bool FetchLyrics(const std::wstring& url, CString& lyrics, std::string& reason);

  SStats ReadStats();
  static bool DownloadFailed(const SStats& before, const SStats& after);
  std::string DownloadFailure(const std::string& address) const;
  std::string IndexAddress(const std::wstring& artist) const;
  std::string Address(const std::wstring& siteAddress) const;

  // Prints a JSON document (with "stats" added when asked) or, in text mode,
  // the statistics on standard error.
  void Emit(nlohmann::ordered_json document);
  void EmitText(const std::string& text);
  void FinishWithoutOutput();
  int Interrupted();

  const SOptions& m_options;
  CPluginLibrary& m_library;
  CCliHost m_host;
  CLyricsDllInterface* m_pPlugin = nullptr;
  bool m_bOutputFailed = false;
  std::wstring m_strCacheFolder;  // absolute; empty without an artist cache
};

}  // namespace cli

#endif  // VERSEWELL_CLI_COMMANDS_H

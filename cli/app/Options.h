// The command line after parsing: what to run and how to set up the plug-in.
// A plain value; CCommandLine fills it, CCommandRunner and the local
// commands read it.
#ifndef VERSEWELL_CLI_OPTIONS_H
#define VERSEWELL_CLI_OPTIONS_H

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit codes of the program.
constexpr int EXIT_FOUND = 0;
constexpr int EXIT_NOT_FOUND = 1;  // not on the wiki: artist, song or lyrics absent, HTTP 404/410
constexpr int EXIT_USAGE = 2;      // bad command line, or no loadable plug-in
constexpr int EXIT_NETWORK = 3;    // any other failed download (network, proxy, server)
constexpr int EXIT_WRITE = 4;      // could not write: standard output, a JSON-lines stream or a local file
constexpr int EXIT_INTERNAL = 70;  // the program's own fault: out of memory, an unexpected exception
constexpr int EXIT_INTERRUPTED = 130;

enum class ECommand {
  None, Version, Artist, Songs, Lyrics, FetchAll, Batch, Library,
  // Commands that need no plug-in:
  Log, CachePath, CacheClear, Completion, ManPage, Config,
};

struct SOptions {
  // Where each setting's value came from ("command line", "VERSEWELL_PROXY",
  // "FILE, line N", "default"), and the config file looked at.
  std::map<std::string, std::string> mapSources;
  std::string strConfigFile;
  bool bConfigFound = false;

  ECommand eCommand = ECommand::None;
  std::vector<std::string> vecArgs;  // positional arguments of the command

  std::string strPlugin;  // empty: the library installed beside the program
  std::string strProxy;
  std::optional<float> fMaxDifference;
  std::string strCacheDir;  // empty: the default cache folder
  bool bNoCache = false;
  std::string strLogDir;
  std::string strTraceLevel;
  std::string strParentLog;
  bool bJson = false;
  bool bStats = false;
  bool bVerbose = false;
  unsigned nRetries = 2;   // extra attempts after a network failure or HTTP 429/5xx
  unsigned nDelayMs = 0;   // pause between plug-in requests
  unsigned nTimeoutMs = 0;    // --timeout: longest single download; 0: the plug-in's own limits
  unsigned nMaxFailures = 5;  // batch and library: give up after this many network failures in a row; 0: never
  bool bClosest = false;   // lyrics, batch, library: take the closest title even when not close
  bool bQuiet = false;       // nothing on stderr but errors
  bool bNoProgress = false;  // no progress line

  std::string strOutDir;  // fetch-all
  bool bForce = false;    // fetch-all, batch, library

  // batch and library (vecArgs[0] is the input file or the music folder)
  unsigned nJobs = 2;
  std::string strTemplate;  // fetch-all and batch; empty: the default layout
  bool bJsonl = false;
  bool bCrlf = false;
  bool bEmbed = false;   // library
  bool bFollowLinks = false;  // library: edit link targets outside the folder too
  bool bChownOk = false;      // library --embed: edit even when the owner or group cannot be kept
  bool bDryRun = false;
  bool bRetryMissing = false;  // batch and library: look up again the songs remembered as without lyrics
};

}  // namespace cli

#endif  // VERSEWELL_CLI_OPTIONS_H

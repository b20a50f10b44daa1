// The plug-in's trace log as the CLI uses it: where it goes, at which level,
// and the download failures it records.
//
// The plug-in's trace log is process-wide. CTraceWatch decides its folder
// once per run: the user's --log-dir when given (their folder is used as
// is), else a private temporary folder that exists only so the CLI can read
// why a download failed, and that is removed with the watch. Setup() hands
// the folder and level to a plug-in object; TakeFailure() reads the lines
// written since the last read and returns the latest download failure
// recorded by one thread (each worker thread drives its own plug-in object,
// and every trace line names its thread).
//
// Ownership: the watch owns the private folder. It must outlive the plug-in
// objects' use of the log, and the plug-in's log must be closed
// (CloseAndMergeLog) before the watch is destroyed.
// Failure: a folder that cannot be made or read only means no causes; the
// run goes on. Threads: Setup and TakeFailure may be called from any thread.
#ifndef VERSEWELL_CLI_TRACE_WATCH_H
#define VERSEWELL_CLI_TRACE_WATCH_H

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <versewell/plugin.h>

#include "cli/host/DownloadCause.h"
#include "cli/app/Options.h"

namespace cli {

// The trace level the plug-in gets: the user's --trace-level when given;
// else "Debug", the level that records failures and every download address
// (an artist page without songs is known only by the address read last),
// except that `artist` and `lyrics ADDRESS` with no --log-dir get
// "Warning": they list no songs, and need only the failures.
std::string EffectiveTraceLevel(const SOptions& options);

class CTraceWatch {
 public:
  explicit CTraceWatch(const SOptions& options);
  ~CTraceWatch();
  CTraceWatch(const CTraceWatch&) = delete;
  CTraceWatch& operator=(const CTraceWatch&) = delete;

  // Sets "LogFolder" and "TraceLevel" (and "ParentLogfilePath" when asked)
  // on a plug-in object. Returns false with `error` when the user's folder
  // cannot be created; a private folder that cannot be made is no error.
  bool Setup(CLyricsDllInterface& plugin, std::string& error);

  // The latest download failure that `threadId` recorded since its last
  // call, or nothing.
  std::optional<SDownloadFailure> TakeFailure(unsigned long threadId);
  // The address of the last download `threadId` started, as the plug-in
  // wrote it; empty when the trace level does not record it.
  std::string LastDownload(unsigned long threadId);

  // The folder in use (empty when none).
  const std::string& Folder() const { return m_strFolder; }
  bool IsPrivate() const { return m_bPrivate; }

 private:
  void ReadNewLines();

  const SOptions& m_options;
  std::string m_strFolder;
  bool m_bPrivate = false;
  std::string m_strLevel;
  std::mutex m_mutex;
  std::map<std::string, uint64_t> m_mapOffsets;  // trace file -> bytes read
  std::map<unsigned long, SDownloadFailure> m_mapFailures;
  std::map<unsigned long, std::string> m_mapLastDownload;  // thread -> address
  std::map<unsigned long, bool> m_mapTooLarge;  // a "body larger" line awaits its failure line
};

}  // namespace cli

#endif  // VERSEWELL_CLI_TRACE_WATCH_H

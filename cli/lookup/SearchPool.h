// The worker pool behind `versewell batch` and `versewell library`: N worker
// threads, each with its own plug-in object and its own host callback, as a
// host with worker threads has them, sharing one CArtistListCache so that an
// artist's address and song list are fetched once per run, and one
// CSongPageMemo so that a song page is too, however many lines name it.
// Each worker starts on songs as soon as its own plug-in object exists.
//
// Songs are started artist by artist in turn (the first song of every artist,
// then the second of every artist, ...), so that workers seldom wait for a
// song list another worker is fetching. Each worker waits `nDelayMs` between
// the starts of its own downloads (politeness; the wait happens when the
// plug-in asks its host for the proxy, which it does before every download).
//
// Run calls `deliver` on the worker thread for every found song (to write its
// file), and `report` on the calling thread for every finished song, in the
// order they finish; `tick` about ten times a second. After
// nMaxNetworkFailures network failures in a row (in the order songs finish)
// no new song starts; the running ones finish. After a stop request
// (Ctrl-C) no new song starts, the plug-in refuses further downloads, and Run
// returns once the running songs have ended.
//
// Ownership: the pool borrows the library; it creates and deletes the plug-in
// objects. Failure: a plug-in object that cannot be created stops new songs
// from starting (songs other workers already run finish and are reported),
// and Run returns false. Threads: Run on one thread at a time.
#ifndef VERSEWELL_CLI_SEARCH_POOL_H
#define VERSEWELL_CLI_SEARCH_POOL_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/host/PluginLibrary.h"
#include "cli/lookup/SongSearch.h"
#include "cli/host/TraceWatch.h"

namespace cli {

constexpr unsigned MAX_JOBS = 64;

struct SPoolConfig {
  unsigned nJobs = 2;
  unsigned nDelayMs = 0;          // between one worker's downloads
  SLookupSettings lookup;         // retries, --closest; its own delay is not used
  std::wstring strProxy;
  std::optional<float> fMaxDifference;
  unsigned nMaxNetworkFailures = 0;  // 0: never give up
  std::wstring strCacheFolder;    // empty: no artist cache
  CTraceWatch* pTrace = nullptr;  // the run's trace, for the causes of failed downloads
};

struct SSongJob {
  std::wstring strArtist;
  std::wstring strTitle;
};

// What became of a found song's file.
struct SDelivery {
  bool bWritten = false;
  bool bFailed = false;
  std::string strFile;
  std::string strMessage;  // the write error
};

struct SSongOutcome {
  size_t nIndex = 0;  // into the job list
  SSongResult result;
  SDelivery delivery;
};

class CSearchPool {
 public:
  using FCheck = std::function<std::string(size_t index, const SSongResult&)>;
  using FDeliver = std::function<SDelivery(size_t index, const SSongResult&)>;
  using FReport = std::function<void(const SSongOutcome&)>;

  CSearchPool(CPluginLibrary& library, SPoolConfig config) : m_library(library), m_config(std::move(config)) {}

  bool Run(const std::vector<SSongJob>& jobs, const FCheck& check, const FDeliver& deliver, const FReport& report,
           const std::function<void()>& tick, std::string& error);

  // Downloads of all workers, by kind, after Run.
  const SDownloadCounts& Counts() const { return m_counts; }

  // The order in which jobs start: artist by artist in turn (exposed for tests).
  static std::vector<size_t> StartOrder(const std::vector<SSongJob>& jobs);

 private:
  CPluginLibrary& m_library;
  SPoolConfig m_config;
  SDownloadCounts m_counts;
};

}  // namespace cli

#endif  // VERSEWELL_CLI_SEARCH_POOL_H

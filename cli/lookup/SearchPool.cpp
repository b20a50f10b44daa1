#include "cli/lookup/SearchPool.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/host/CliHost.h"
#include "cli/sys/HostPlatform.h"
#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

// A worker's host callback: the CLI's answers, plus the pause between the
// worker's downloads.
class CPacedHost : public CCliHost {
 public:
  CPacedHost(const SPoolConfig& config) : CCliHost(config.strProxy, config.fMaxDifference), m_nDelayMs(config.nDelayMs) {}

  BOOL GetHostValue(const CString& name, void* value) override {
    if (m_nDelayMs > 0 && name == L"HttpProxy") Pace();
    return CCliHost::GetHostValue(name, value);
  }

 private:
  void Pace() {
    auto now = std::chrono::steady_clock::now();
    if (m_bStarted) {
      auto due = m_last + std::chrono::milliseconds(m_nDelayMs);
      while (now < due && !hostplatform::StopRequested()) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(20)));
        now = std::chrono::steady_clock::now();
      }
    }
    m_bStarted = true;
    m_last = now;
  }

  unsigned m_nDelayMs;
  bool m_bStarted = false;
  std::chrono::steady_clock::time_point m_last;
};

struct SWorker {
  CLyricsDllInterface* pPlugin = nullptr;
  std::unique_ptr<CPacedHost> host;
  std::unique_ptr<CSongLookup> lookup;
  std::unique_ptr<CSongSearcher> searcher;
};

}  // namespace

std::vector<size_t> CSearchPool::StartOrder(const std::vector<SSongJob>& jobs) {
  std::map<std::wstring, size_t> artistIndex;
  std::vector<std::vector<size_t>> byArtist;
  for (size_t i = 0; i < jobs.size(); ++i) {
    std::wstring key = FoldCase(TrimWide(jobs[i].strArtist));
    auto it = artistIndex.find(key);
    if (it == artistIndex.end()) {
      it = artistIndex.emplace(key, byArtist.size()).first;
      byArtist.emplace_back();
    }
    byArtist[it->second].push_back(i);
  }
  std::vector<size_t> order;
  order.reserve(jobs.size());
  for (size_t round = 0; order.size() < jobs.size(); ++round)
    for (const std::vector<size_t>& songs : byArtist)
      if (round < songs.size()) order.push_back(songs[round]);
  return order;
}

namespace {

// One run of the pool: the workers' shared state and the steps of a run.
// Each worker makes its own plug-in object on its own thread, as a host's
// worker would, and starts on songs as soon as it has one, while the others
// are still making theirs. Finished songs are reported on the calling
// thread, in the order they finish.
class CPoolRun {
 public:
  CPoolRun(CPluginLibrary& library, const SPoolConfig& config, const std::vector<SSongJob>& jobs,
           const CSearchPool::FCheck& check, const CSearchPool::FDeliver& deliver, std::vector<size_t> order,
           unsigned count)
      : m_library(library), m_config(config), m_jobs(jobs), m_check(check), m_deliver(deliver),
        m_order(std::move(order)), m_nCount(count), m_nRunning(count), m_workers(count) {}

  // Starts the workers, reports every finished song (and ticks while
  // waiting), and joins them.
  void Run(const CSearchPool::FReport& report, const std::function<void()>& tick) {
    std::vector<std::thread> threads;
    threads.reserve(m_nCount);
    for (SWorker& worker : m_workers) threads.emplace_back(&CPoolRun::Work, this, std::ref(worker));
    ReportUntilDone(report, tick);
    for (std::thread& thread : threads) thread.join();
  }

  bool CreateFailed() const { return m_bCreateFailed; }

  // The downloads of all workers.
  SDownloadCounts Counts() const {
    SDownloadCounts counts;
    for (const SWorker& worker : m_workers) {
      if (!worker.searcher) continue;
      const SDownloadCounts& c = worker.searcher->Counts();
      counts.nLookupsAndLists += c.nLookupsAndLists;
      counts.nLists += c.nLists;
      counts.nLyrics += c.nLyrics;
      counts.nFailed += c.nFailed;
    }
    return counts;
  }

  ~CPoolRun() {
    for (SWorker& worker : m_workers) {
      if (worker.pPlugin == nullptr) continue;
      worker.pPlugin->SetHostCallback(nullptr);
      delete worker.pPlugin;
      worker.pPlugin = nullptr;
    }
  }

 private:
  void Work(SWorker& worker) {
    if (Create(worker)) {
      SetUp(worker);
      size_t index;
      while (TakeNext(index)) Finish(SearchOne(worker, index));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nRunning;
    m_changed.notify_all();
  }

  // Makes the worker's plug-in object; without one the worker does nothing,
  // and no worker starts another song (the library is the same for all, so
  // the others would fail alike or soon).
  bool Create(SWorker& worker) {
    CLyricsDllInterface* plugin = m_library.CreateObject();
    std::lock_guard<std::mutex> lock(m_mutex);
    worker.pPlugin = plugin;
    if (plugin == nullptr) m_bCreateFailed = true;
    return plugin != nullptr;
  }

  void SetUp(SWorker& worker) {
    worker.host = std::make_unique<CPacedHost>(m_config);
    worker.pPlugin->SetHostCallback(worker.host.get());
    if (!m_config.strCacheFolder.empty()) {
      CString folder(m_config.strCacheFolder.c_str());
      worker.pPlugin->SetProperty(L"LocalCacheFolder", &folder);
    }
    SLookupSettings settings = m_config.lookup;
    settings.nDelayMs = 0;  // the host paces every download instead
    worker.lookup = std::make_unique<CSongLookup>(*worker.pPlugin, *worker.host, m_config.pTrace, settings);
    worker.searcher = std::make_unique<CSongSearcher>(*worker.lookup, m_cache, &m_pages);
  }

  // The next song in start order; false when none is left or a stop came.
  bool TakeNext(size_t& index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nNext >= m_order.size() || m_bStopStarting || m_bCreateFailed || hostplatform::StopRequested())
      return false;
    index = m_order[m_nNext++];
    return true;
  }

  SSongOutcome SearchOne(SWorker& worker, size_t index) {
    SSongOutcome outcome;
    outcome.nIndex = index;
    const SSongJob& job = m_jobs[index];
    std::function<std::string(const SSongResult&)> songCheck;
    const CSearchPool::FCheck& check = m_check;
    if (check) songCheck = [&check, index](const SSongResult& r) { return check(index, r); };
    std::function<void(const SSongResult&)> songDeliver;
    const CSearchPool::FDeliver& deliver = m_deliver;
    if (deliver)
      songDeliver = [&deliver, &outcome, index](const SSongResult& r) { outcome.delivery = deliver(index, r); };
    outcome.result = worker.searcher->Find(job.strArtist, job.strTitle, songCheck, songDeliver);
    return outcome;
  }

  void Finish(SSongOutcome outcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Decided here, as the song ends, so that no worker starts another song
    // before the count is known.
    m_nNetworkInRow = outcome.result.eOutcome == EOutcome::Network ? m_nNetworkInRow + 1 : 0;
    if (m_config.nMaxNetworkFailures > 0 && m_nNetworkInRow >= m_config.nMaxNetworkFailures) m_bStopStarting = true;
    m_finished.push_back(std::move(outcome));
    m_changed.notify_all();
  }

  // The calling thread: reports finished songs outside the lock, and ticks
  // at least every 100 ms while the workers run.
  void ReportUntilDone(const CSearchPool::FReport& report, const std::function<void()>& tick) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !m_finished.empty() || m_nRunning == 0; });
      while (!m_finished.empty()) {
        SSongOutcome outcome = std::move(m_finished.front());
        m_finished.pop_front();
        lock.unlock();
        report(outcome);
        lock.lock();
      }
      if (m_nRunning == 0) break;
      lock.unlock();
      if (tick) tick();
      lock.lock();
    }
  }

  CPluginLibrary& m_library;
  const SPoolConfig& m_config;
  const std::vector<SSongJob>& m_jobs;
  const CSearchPool::FCheck& m_check;
  const CSearchPool::FDeliver& m_deliver;
  const std::vector<size_t> m_order;
  const unsigned m_nCount;
  CArtistListCache m_cache;
  CSongPageMemo m_pages;

  std::mutex m_mutex;  // guards what follows
  std::condition_variable m_changed;
  size_t m_nNext = 0;
  unsigned m_nRunning;
  bool m_bCreateFailed = false;
  bool m_bStopStarting = false;  // too many network failures in a row
  unsigned m_nNetworkInRow = 0;
  std::deque<SSongOutcome> m_finished;
  std::vector<SWorker> m_workers;  // one per thread; each touched by its own thread until the join
};

}  // namespace

bool CSearchPool::Run(const std::vector<SSongJob>& jobs, const FCheck& check, const FDeliver& deliver,
                      const FReport& report, const std::function<void()>& tick, std::string& error) {
  const unsigned count = std::max(1u, std::min<unsigned>(m_config.nJobs, std::min<size_t>(MAX_JOBS, std::max<size_t>(jobs.size(), 1))));
  CPoolRun run(m_library, m_config, jobs, check, deliver, StartOrder(jobs), count);
  run.Run(report, tick);
  m_counts = SDownloadCounts();
  if (run.CreateFailed()) {
    error = "the plug-in " + m_library.Path() + " returned no object";
    return false;
  }
  m_counts = run.Counts();
  return true;
}

}  // namespace cli

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

bool CSearchPool::Run(const std::vector<SSongJob>& jobs, const FCheck& check, const FDeliver& deliver,
                      const FReport& report, const std::function<void()>& tick, std::string& error) {
  const unsigned count = std::max(1u, std::min<unsigned>(m_config.nJobs, std::min<size_t>(MAX_JOBS, std::max<size_t>(jobs.size(), 1))));
  CArtistListCache cache;
  std::vector<SWorker> workers(count);
  auto cleanup = [&workers] {
    for (SWorker& worker : workers) {
      if (worker.pPlugin == nullptr) continue;
      worker.pPlugin->SetHostCallback(nullptr);
      delete worker.pPlugin;
      worker.pPlugin = nullptr;
    }
  };
  const std::vector<size_t> order = StartOrder(jobs);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;
  unsigned running = count;
  std::deque<SSongOutcome> finished;
  unsigned ready = 0;
  bool createFailed = false;
  bool stopStarting = false;  // too many network failures in a row; guarded by `mutex`
  unsigned networkInRow = 0;  // guarded by `mutex`

  // Each worker makes its own plug-in object on its own thread, as a host's
  // worker would; no song starts until every worker has one.
  auto work = [&](SWorker& worker) {
    CLyricsDllInterface* plugin = m_library.CreateObject();
    {
      std::unique_lock<std::mutex> lock(mutex);
      worker.pPlugin = plugin;
      if (plugin == nullptr) createFailed = true;
      ++ready;
      changed.notify_all();
      changed.wait(lock, [&] { return ready == count; });
    }
    if (!createFailed) {
      worker.host = std::make_unique<CPacedHost>(m_config);
      worker.pPlugin->SetHostCallback(worker.host.get());
      if (!m_config.strCacheFolder.empty()) {
        CString folder(m_config.strCacheFolder.c_str());
        worker.pPlugin->SetProperty(L"LocalCacheFolder", &folder);
      }
      SLookupSettings settings = m_config.lookup;
      settings.nDelayMs = 0;  // the host paces every download instead
      worker.lookup = std::make_unique<CSongLookup>(*worker.pPlugin, *worker.host, m_config.pTrace, settings);
      worker.searcher = std::make_unique<CSongSearcher>(*worker.lookup, cache);
    }
    while (!createFailed) {
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (next >= order.size() || stopStarting || hostplatform::StopRequested()) break;
        index = order[next++];
      }
      SSongOutcome outcome;
      outcome.nIndex = index;
      const SSongJob& job = jobs[index];
      std::function<std::string(const SSongResult&)> songCheck;
      if (check) songCheck = [&check, index](const SSongResult& r) { return check(index, r); };
      outcome.result = worker.searcher->Find(job.strArtist, job.strTitle, songCheck);
      if (outcome.result.eOutcome == EOutcome::Found && !outcome.result.bSkipped && deliver)
        outcome.delivery = deliver(index, outcome.result);
      std::lock_guard<std::mutex> lock(mutex);
      // Decided here, as the song ends, so that no worker starts another
      // song before the count is known.
      networkInRow = outcome.result.eOutcome == EOutcome::Network ? networkInRow + 1 : 0;
      if (m_config.nMaxNetworkFailures > 0 && networkInRow >= m_config.nMaxNetworkFailures) stopStarting = true;
      finished.push_back(std::move(outcome));
      changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    changed.notify_all();
  };

  std::vector<std::thread> threads;
  threads.reserve(count);
  for (SWorker& worker : workers) threads.emplace_back(work, std::ref(worker));

  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !finished.empty() || running == 0; });
    while (!finished.empty()) {
      SSongOutcome outcome = std::move(finished.front());
      finished.pop_front();
      lock.unlock();
      report(outcome);
      lock.lock();
    }
    if (running == 0) break;
    lock.unlock();
    if (tick) tick();
    lock.lock();
  }
  lock.unlock();
  for (std::thread& thread : threads) thread.join();

  m_counts = SDownloadCounts();
  if (createFailed) {
    cleanup();
    error = "the plug-in " + m_library.Path() + " returned no object";
    return false;
  }
  for (const SWorker& worker : workers) {
    const SDownloadCounts& c = worker.searcher->Counts();
    m_counts.nLookupsAndLists += c.nLookupsAndLists;
    m_counts.nLists += c.nLists;
    m_counts.nLyrics += c.nLyrics;
    m_counts.nFailed += c.nFailed;
  }
  cleanup();
  return true;
}

}  // namespace cli

// A host callback for tests: answers the three host values the plug-in reads
// and records the host-ignore calls. Header-only so that host-side tests can
// use it with nothing but the public header.
#ifndef VERSEWELL_TESTS_SUPPORT_TEST_HOST_H
#define VERSEWELL_TESTS_SUPPORT_TEST_HOST_H

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <versewell/plugin.h>

class CTestHostIgnore : public CHostIgnore {
 public:
  std::vector<std::wstring> calls;  // "add:<host>:<value>" / "remove:<host>"
  BOOL AddIgnoredHost(const wchar_t* host, unsigned int value) override {
    calls.push_back(L"add:" + std::wstring(host != nullptr ? host : L"(null)") + L":" + std::to_wstring(value));
    return 1;
  }
  BOOL RemoveIgnoredHost(const wchar_t* host) override {
    calls.push_back(L"remove:" + std::wstring(host != nullptr ? host : L"(null)"));
    return 1;
  }
};

class CTestHost : public CHostCallback {
 public:
  bool hasMaxDiff = false;
  float maxDiff = 1.0f;
  CString proxy;                      // empty: the host writes nothing
  CHostIgnore* ignore = nullptr;      // null: the host answers 0
  std::atomic<bool> stop{false};
  std::atomic<int> stopAfterQueries{-1};  // >= 0: stop once this many queries were answered
  std::atomic<int> stopQueries{0};
  std::atomic<int> notifications{0};

  // When set and true for a query, that query is answered with the current
  // state and not counted in stopQueries (for the transport's polls while a
  // page travels, which depend on timing).
  std::function<bool()> isUncountedQuery;

  // Every stop query from `delay` after this call on answers "stop".
  void StopAfter(std::chrono::milliseconds delay) {
    m_stopAt = (std::chrono::steady_clock::now() + delay).time_since_epoch().count();
  }
  // The threads that asked IsStopRequested, in order.
  std::vector<std::thread::id> StopAskers() {
    std::lock_guard<std::mutex> lock(m_askersMutex);
    return m_askers;
  }

  BOOL GetHostValue(const CString& name, void* value) override {
    if (name == L"MaxMatchDifference" && hasMaxDiff) {
      *static_cast<float*>(value) = maxDiff;
      return 1;
    }
    if (name == L"HttpProxy" && !proxy.IsEmpty()) {
      *static_cast<CString*>(value) = proxy;
      return 1;
    }
    if (name == L"HostIgnore" && ignore != nullptr) {
      *static_cast<CHostIgnore**>(value) = ignore;
      return 1;
    }
    return 0;
  }
  void Notify() override { ++notifications; }
  bool IsStopRequested() override {
    {
      std::lock_guard<std::mutex> lock(m_askersMutex);
      m_askers.push_back(std::this_thread::get_id());
    }
    const long long stopAt = m_stopAt.load();
    if (stopAt != 0 && std::chrono::steady_clock::now().time_since_epoch().count() >= stopAt) return true;
    int limit = stopAfterQueries.load();
    if (isUncountedQuery && isUncountedQuery()) return (limit >= 0 && stopQueries.load() >= limit) || stop.load();
    int n = stopQueries++;
    if (limit >= 0 && n >= limit) return true;
    return stop.load();
  }

 private:
  std::atomic<long long> m_stopAt{0};  // steady-clock ticks; 0: no deadline
  std::mutex m_askersMutex;
  std::vector<std::thread::id> m_askers;
};

#endif

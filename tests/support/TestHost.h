// A host callback for tests: answers the three host values the plug-in reads
// and records the host-ignore calls. Header-only so that host-side tests can
// use it with nothing but the public header.
#ifndef VERSEWELL_TESTS_SUPPORT_TEST_HOST_H
#define VERSEWELL_TESTS_SUPPORT_TEST_HOST_H

#include <atomic>
#include <string>
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
    int n = stopQueries++;
    int limit = stopAfterQueries.load();
    if (limit >= 0 && n >= limit) return true;
    return stop.load();
  }
};

#endif

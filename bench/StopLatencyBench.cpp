// Time from a stop request to the return of the call it ends, per phase of
// a download: connecting (a server that never accepts), sending (a request
// body nobody reads), waiting for the response head (a server that never
// answers) and reading a trickling body; and a whole search (GetLyrics)
// through the plug-in with a host that asks to stop.
//
// The stop becomes true at a fixed moment 100 ms into each iteration; the
// reported (manual) time is from that moment to the return. "max_ms" is the
// worst iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "plugin/Versewell.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

using namespace platform;

namespace {

typedef std::chrono::steady_clock Clock;
constexpr auto STOP_AFTER = std::chrono::milliseconds(100);

struct SStopAt {
  Clock::time_point at;
  static bool Ask(void* self) { return Clock::now() >= static_cast<SStopAt*>(self)->at; }
};

CWikiServer& Server() {
  static CWikiServer server;
  return server;
}

CWikiServer& StalledServer() {
  static CWikiServer server([] {
    SWikiServerOptions options;
    options.stallAccept = true;
    return options;
  }());
  return server;
}

// One exchange through the seam, ended by a stop; false when it was not
// ended as cancelled.
bool StoppedExchange(const std::wstring& proxy, const wchar_t* verb, const wchar_t* object, const std::string& body,
                     double& seconds) {
  HINTERNET session = WinHttpOpen(L"StopBench", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str());
  HINTERNET connect = WinHttpConnect(session, L"lyrics.wiki.example", 80);
  HINTERNET request = WinHttpOpenRequest(connect, verb, object, nullptr, 0);
  SStopAt stop{Clock::now() + STOP_AFTER};
  bool ok = true;
  {
    CScopedStopQuery scope(&SStopAt::Ask, &stop);
    const DWORD length = static_cast<DWORD>(body.size());
    ok = WinHttpSendRequest(request, nullptr, 0, body.empty() ? nullptr : body.data(), length, length, 0) &&
         WinHttpReceiveResponse(request);
    for (DWORD available = 1; ok && available > 0;) {
      ok = WinHttpQueryDataAvailable(request, &available);
      std::string chunk(available, '\0');
      DWORD read = 0;
      if (ok && available > 0) ok = WinHttpReadData(request, &chunk[0], available, &read);
    }
  }
  const DWORD error = GetLastError();
  seconds = std::chrono::duration<double>(Clock::now() - stop.at).count();
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connect);
  WinHttpCloseHandle(session);
  return !ok && error == ERROR_WINHTTP_OPERATION_CANCELLED;
}

void RunPhase(benchmark::State& state, const std::wstring& proxy, const wchar_t* verb, const wchar_t* object,
              const std::string& body) {
  double worst = 0;
  for (auto _ : state) {
    double seconds = 0;
    if (!StoppedExchange(proxy, verb, object, body, seconds)) {
      state.SkipWithError("the exchange was not ended by the stop");
      return;
    }
    worst = std::max(worst, seconds);
    state.SetIterationTime(seconds);
  }
  state.counters["max_ms"] = worst * 1000;
}

void BM_StopWhileConnecting(benchmark::State& state) {
  RunPhase(state, StalledServer().WProxy(), L"GET", L"_test/echo", std::string());
}

void BM_StopWhileSending(benchmark::State& state) {
  RunPhase(state, Server().WProxy(), L"PUT", L"_test/hang?ms=60000", std::string(32u << 20, 'x'));
}

void BM_StopWhileWaitingForTheHead(benchmark::State& state) {
  RunPhase(state, Server().WProxy(), L"GET", L"_test/hang?ms=60000", std::string());
}

void BM_StopWhileTheBodyTrickles(benchmark::State& state) {
  RunPhase(state, Server().WProxy(), L"GET", L"_test/trickle?size=100000", std::string());
}

// The whole plug-in: GetLyrics of a page the server never answers, with a
// host whose IsStopRequested turns true 100 ms in.
void BM_StopDuringASearch(benchmark::State& state) {
  double worst = 0;
  for (auto _ : state) {
    CTestHost host;
    host.proxy = Server().WProxy().c_str();
    CVersewell plugin;
    plugin.SetHostCallback(&host);
    const Clock::time_point stopAt = Clock::now() + STOP_AFTER;
    host.StopAfter(std::chrono::duration_cast<std::chrono::milliseconds>(stopAt - Clock::now()));
    CString lyrics;
    if (plugin.GetLyrics(L"lyrics.wiki.example/_test/hang?ms=60000", lyrics) != 0) {
      state.SkipWithError("the search was not stopped");
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - stopAt).count();
    worst = std::max(worst, seconds);
    state.SetIterationTime(seconds);
  }
  state.counters["max_ms"] = worst * 1000;
}

#define STOP_BENCH(name) BENCHMARK(name)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond)
STOP_BENCH(BM_StopWhileConnecting);
STOP_BENCH(BM_StopWhileSending);
STOP_BENCH(BM_StopWhileWaitingForTheHead);
STOP_BENCH(BM_StopWhileTheBodyTrickles);
STOP_BENCH(BM_StopDuringASearch);

}  // namespace

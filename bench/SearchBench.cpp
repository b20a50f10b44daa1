// Costs of the search operations.
//
// LyricsPage/*: the whole of GetLyrics after the download (box cut, notice
// and U+FFFD checks, break tags, line breaks, tag stripping, reference
// decoding, trim) on pages of 10 KB, 1 MB and 10 MB (in characters), both
// ordinary lyrics and hostile boxes full of "<br>" tags, "\n\n" pairs or
// unclosed '<'. Cost should grow about tenfold per tenfold size.
//
// FindArtistUrl/*: an index search through the loopback wiki, with a cold
// cache (two index pages read, every title written) and a warm one (a cache
// hit, no download).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "plugin/Versewell.h"
#include "search/LyricsPage.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

namespace {

const std::wstring BOX_HEAD = L"<html><body><div class='lyricbox'><div class='rtMatcher'></div>";
const std::wstring BOX_TAIL = L"<!-- end --></div></body></html>";

enum PageKind { ORDINARY, BREAK_TAGS, LINE_FEED_PAIRS, UNCLOSED_LT };

std::wstring MakePage(PageKind kind, size_t size) {
  std::wstring unit;
  switch (kind) {
    case ORDINARY:
      unit = L"Haul away the line, &amp; it&#39;s <i>home</i> by morning,<br />\n";
      break;
    case BREAK_TAGS:
      unit = L"<br>";
      break;
    case LINE_FEED_PAIRS:
      unit = L"\n\n";
      break;
    case UNCLOSED_LT:
      unit = L"<";
      break;
  }
  std::wstring page = BOX_HEAD;
  page.reserve(size + BOX_HEAD.size() + BOX_TAIL.size() + unit.size());
  if (kind == UNCLOSED_LT) page += L"a";  // keep some text so the result is not empty
  while (page.size() < size) page += unit;
  page += BOX_TAIL;
  return page;
}

void LyricsPage(benchmark::State& state, PageKind kind) {
  const std::wstring page = MakePage(kind, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    CString lyrics;
    benchmark::DoNotOptimize(ExtractLyricsFromPage(page, lyrics));
    benchmark::DoNotOptimize(lyrics.GetLength());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size() * sizeof(wchar_t)));
}

void LyricsPageBreakTags200k(benchmark::State& state) {
  std::wstring page = BOX_HEAD;
  for (int i = 0; i < 200000; ++i) page += L"<br>";
  page += L"x" + BOX_TAIL;
  for (auto _ : state) {
    CString lyrics;
    benchmark::DoNotOptimize(ExtractLyricsFromPage(page, lyrics));
  }
}

// Shared loopback wiki for the lookup benchmarks.
CWikiServer& Server() {
  static CWikiServer server(std::string(VERSEWELL_SOURCE_DIR) + "/tests/wiki");
  return server;
}

// A plug-in object with a host, a proxy to the wiki and its own cache.
struct CLookupRig {
  CTempDir cacheDir;
  CTestHost host;
  CVersewell plugin;
  CLookupRig() {
    host.proxy = Server().WProxy().c_str();
    host.hasMaxDiff = true;
    host.maxDiff = 30.0f;
    plugin.SetHostCallback(&host);
    CString folder = cacheDir.WPath().c_str();
    plugin.SetProperty(L"LocalCacheFolder", &folder);
  }
};

// No cache entry yet: both index pages are read and about 360 titles cached.
void FindArtistUrlColdCache(benchmark::State& state) {
  Server();
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<CLookupRig>();
    state.ResumeTiming();
    CString url;
    if (rig->plugin.FindArtistUrl(L"Quillfeather (UK)", url) != 1) state.SkipWithError("lookup failed");
    state.PauseTiming();
    rig.reset();
    state.ResumeTiming();
  }
}

// The same name once the cache knows it: no download.
void FindArtistUrlWarmCache(benchmark::State& state) {
  CLookupRig rig;
  CString first;
  if (rig.plugin.FindArtistUrl(L"Quillfeather (UK)", first) != 1) state.SkipWithError("lookup failed");
  for (auto _ : state) {
    CString url;
    if (rig.plugin.FindArtistUrl(L"Quillfeather (UK)", url) != 1) state.SkipWithError("lookup failed");
  }
}

}  // namespace

BENCHMARK_CAPTURE(LyricsPage, Ordinary, ORDINARY)->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LyricsPage, BreakTags, BREAK_TAGS)->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LyricsPage, LineFeedPairs, LINE_FEED_PAIRS)->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LyricsPage, UnclosedLessThan, UNCLOSED_LT)->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(LyricsPageBreakTags200k)->Unit(benchmark::kMillisecond);
BENCHMARK(FindArtistUrlColdCache)->Unit(benchmark::kMillisecond);
BENCHMARK(FindArtistUrlWarmCache)->Unit(benchmark::kMicrosecond);

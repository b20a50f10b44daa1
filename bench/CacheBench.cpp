// Cost of the artist address cache as one letter file grows: 2,000, 20,000
// and 200,000 sections of plausible artist names (5 to 30 characters).
//
//   DirectHit    ReadArtistUrl of a stored name (file unchanged: no parse)
//   FuzzyMiss    ReadArtistUrl of a name that is not there: every section
//                name is scored, none is below the threshold 1.0
//   Write200     WriteArtistUrl of the 200 entries of one index page, each
//                with a new address (the time is for all 200)
//   ColdLoad     the first read after the file changed under us: a parse of
//                the whole file
//   Distance     one GetDistance of two typical names
//
// Files are built once per size in a temporary folder and removed at exit.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cwctype>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Path.h"
#include "search/ArtistNameMatcher.h"
#include "search/LocalCache.h"

namespace {

std::wstring MakeArtistName(std::mt19937& rng) {
  static const wchar_t* const kSyllables[] = {L"ka", L"ro", L"mi", L"lan", L"der", L"vo", L"ste", L"ne", L"tor",
                                               L"bel", L"qui", L"sa", L"lo", L"ma", L"rin", L"gu", L"phe", L"al"};
  static const wchar_t* const kExtras[] = {L" & the ", L" (band)", L" feat. ", L" and ", L"-", L" "};
  const size_t target = 5 + rng() % 26;
  std::wstring name = L"A";
  bool startWord = false;
  while (name.size() < target) {
    if (name.size() > 3 && rng() % 5 == 0) {
      name += kExtras[rng() % 6];
      startWord = true;
      continue;
    }
    std::wstring s = kSyllables[rng() % 18];
    if (startWord) s[0] = static_cast<wchar_t>(s[0] - 0x20);
    startWord = false;
    name += s;
  }
  name.resize(target);
  while (!name.empty() && name.back() == L' ') name.pop_back();
  return name;
}

struct CFixture {
  std::string root;
  std::unique_ptr<CLocalCache> cache;
  std::vector<std::wstring> names;
  CString file;
};

std::string g_tempRoot;

void RemoveTemp() {
  if (!g_tempRoot.empty()) std::system(("rm -rf '" + g_tempRoot + "'").c_str());
}

CFixture& Fixture(int sections) {
  static std::map<int, std::unique_ptr<CFixture>> s_fixtures;
  auto it = s_fixtures.find(sections);
  if (it != s_fixtures.end()) return *it->second;
  if (g_tempRoot.empty()) {
    char tmpl[] = "/tmp/versewell-cachebench-XXXXXX";
    g_tempRoot = mkdtemp(tmpl);
    std::atexit(RemoveTemp);
  }
  auto f = std::make_unique<CFixture>();
  f->root = g_tempRoot + "/" + std::to_string(sections);
  mkdir(f->root.c_str(), 0755);
  f->cache = std::make_unique<CLocalCache>(CString(platform::FromNativePath(f->root)), L"Versewell", L"bench");
  std::mt19937 rng(static_cast<unsigned>(sections));
  std::map<std::wstring, bool> seen;
  while (f->names.size() < static_cast<size_t>(sections)) {
    std::wstring name = MakeArtistName(rng);
    std::wstring folded = name;
    for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towupper(c));
    if (seen[folded]) continue;
    seen[folded] = true;
    f->names.push_back(name);
    f->cache->WriteArtistUrl(name.c_str(), (L"/wiki/" + name).c_str());
  }
  f->cache->GetCacheFileName(L"A", f->file);
  return *(s_fixtures[sections] = std::move(f));
}

void BM_DirectHit(benchmark::State& state) {
  CFixture& f = Fixture(static_cast<int>(state.range(0)));
  size_t k = 0;
  for (auto _ : state) {
    CString url;
    bool found = f.cache->ReadArtistUrl(f.names[k++ % f.names.size()].c_str(), url, 1.0f);
    if (!found) state.SkipWithError("a stored name was not found");
    benchmark::DoNotOptimize(url);
  }
}

void BM_FuzzyMiss(benchmark::State& state) {
  CFixture& f = Fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CString url;
    if (f.cache->ReadArtistUrl(L"Aqzx Nowhere Quintet", url, 1.0f)) state.SkipWithError("unexpected hit");
    benchmark::DoNotOptimize(url);
  }
}

void BM_Write200(benchmark::State& state) {
  CFixture& f = Fixture(static_cast<int>(state.range(0)));
  int round = 0;
  for (auto _ : state) {
    ++round;
    for (int k = 0; k < 200; ++k) {
      const std::wstring& name = f.names[(static_cast<size_t>(round) * 200 + k) % f.names.size()];
      if (!f.cache->WriteArtistUrl(name.c_str(), (L"/wiki/" + name + L"?r=" + std::to_wstring(round)).c_str()))
        state.SkipWithError("write failed");
    }
  }
}

void BM_ColdLoad(benchmark::State& state) {
  CFixture& f = Fixture(static_cast<int>(state.range(0)));
  const std::string path = platform::ToNativePath(f.file.Str());
  long tick = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A new modification time makes the file look changed by someone else.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000L + ++tick, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    state.ResumeTiming();
    CString url;
    f.cache->ReadArtistUrl(f.names[0].c_str(), url, 1.0f);
    benchmark::DoNotOptimize(url);
  }
}

void BM_Distance(benchmark::State& state) {
  CArtistNameMatcher matcher;
  for (auto _ : state) benchmark::DoNotOptimize(matcher.GetDistance(L"The Rolling Stones", L"Rolling Stones (band)"));
}

}  // namespace

BENCHMARK(BM_DirectHit)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FuzzyMiss)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write200)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColdLoad)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distance)->Unit(benchmark::kNanosecond);

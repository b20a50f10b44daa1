// The hostile input families that once cost seconds per megabyte, each
// beside an ordinary input of the same size: 8 MiB, pages just under that
// (the download limit).
//
//   CacheParse/...            CProfileImage::Parse of a whole cache file:
//     Ordinary                  one section per artist, key "ArtistUrl"
//     CollidingNames            section names whose characters differ only
//                               above bit 17, so every name fell into one
//                               bucket of the old fixed-seed section index
//     ManyKeysOneSection        one section holding distinct keys
//     OneKeyNamePerSection      a distinct key name in every section
//   GetLyrics/...             the whole GetLyrics after the download (scripted
//                             transport: UTF-8 decoding included):
//     Ordinary                  plain lyrics text
//     BadReferences             the box starts with 25 "&#0;"; trace log
//                               closed
//     BadReferencesLogged       the same with the trace log open at Error:
//                               20 reports with excerpts are written
//   FindArtistUrl/...         an index page through FindArtistUrl with an
//                             artist cache (every title is written to it):
//     Ordinary, CollidingTitles (titles built like CollidingNames), and
//     OrdinaryWithoutCache for the share of the cache writes
//   FindArtistSongList/Ordinary  an artist page full of song entries
#include <benchmark/benchmark.h>

#include <filesystem>
#include <list>
#include <string>

#include "diag/TraceLevels.h"
#include "diag/TraceLog.h"
#include "platform/posix/ProfileImage.h"
#include "plugin/Versewell.h"
#include "support/FakeHttpTransport.h"
#include "support/TempDir.h"
#include "support/TestHost.h"

namespace {

constexpr size_t SIZE = 8u << 20;

// The i-th name of `length` characters drawn from four characters that are
// equal in their low 18 bits (all above U+FFFF: surrogate pairs on disk).
std::wstring CollidingName(size_t i, size_t length) {
  static const wchar_t CHARS[] = {0x40041, 0x80041, 0xC0041, 0x100041};
  std::wstring name;
  for (size_t k = 0; k < length; ++k, i /= 4) name += CHARS[i % 4];
  return name;
}

std::wstring OrdinaryName(size_t i) { return L"Artist " + std::to_wstring(i); }

std::string Utf8(const std::wstring& text) { return ToUtf8(text); }

// Cache file text (UTF-16LE with its mark) of records until SIZE bytes.
template <typename Record>
std::string CacheFile(Record record) {
  std::string out(platform::CProfileImage::BOM, 2);
  for (size_t i = 0; out.size() < SIZE; ++i) out += record(i);
  return out;
}

std::string Record(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  return platform::CProfileImage::FormatRecord(section.data(), section.size(), key.data(), key.size(),
                                               value.data(), value.size(), false);
}

void CacheParse(benchmark::State& state, int kind) {
  std::string file;
  const std::wstring url = L"lyrics.wiki.example/wiki/Some_Artist";
  switch (kind) {
    case 0: file = CacheFile([&](size_t i) { return Record(OrdinaryName(i), L"ArtistUrl", url); }); break;
    case 1: file = CacheFile([&](size_t i) { return Record(CollidingName(i, 10), L"ArtistUrl", url); }); break;
    case 2:
      file = CacheFile([&](size_t i) {
        const std::wstring key = L"k" + std::to_wstring(i);
        return i == 0 ? Record(L"S", key, L"v") : platform::CProfileImage::FormatRecord(nullptr, 0, key.data(),
                            key.size(), L"v", 1, false).substr(8);  // the key line alone
      });
      break;
    default:
      file = CacheFile([&](size_t i) { return Record(OrdinaryName(i), L"k" + std::to_wstring(i), L"v"); });
  }
  size_t sections = 0;
  for (auto _ : state) {
    platform::CProfileImage image;
    image.Parse(file.data(), file.size(), 0);
    sections = image.SectionCount();
    benchmark::DoNotOptimize(sections);
  }
  state.counters["sections"] = static_cast<double>(sections);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

struct CPluginFixture {
  CFakeHttpTransport transport;
  ScopedHttpTransport scoped{transport};
  CTestHost host;
  CVersewell plugin;
  CPluginFixture() { plugin.SetHostCallback(&host); }
};

void GetLyrics(benchmark::State& state, int kind) {
  CPluginFixture f;
  std::string page = "<div class='lyricbox'><div>x</div>";
  if (kind > 0)
    for (int i = 0; i < 25; ++i) page += "&#0;";
  const std::string line = "Down the salt road in the grey of the morning,<br />\n";
  while (page.size() + line.size() + 16 <= SIZE) page += line;
  page += "<!-- end -->";
  f.transport.response.chunks.assign(1, page);
  CTempDir logDir;
  if (kind == 2) g_TraceLog.Open(logDir.WPath().c_str(), L"Bench", TRACE_ERROR);
  for (auto _ : state) {
    CString lyrics;
    benchmark::DoNotOptimize(f.plugin.GetLyrics(CString(L"lyrics.wiki.example/wiki/A:B"), lyrics));
  }
  if (kind == 2) g_TraceLog.Close();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void FindArtistUrl(benchmark::State& state, int kind) {
  CPluginFixture f;
  std::string page = "<ul>";
  size_t titles = 0;
  for (;; ++titles) {
    // (Colliding titles start with a letter so that they go to a cache file.)
    const std::string title = Utf8(kind == 1 ? L"A" + CollidingName(titles, 10) : OrdinaryName(titles));
    const std::string entry = "<li><a href=\"/wiki/A" + std::to_string(titles) + "\" title=\"" + title + "\">x</a></li>\n";
    if (page.size() + entry.size() > SIZE) break;
    page += entry;
  }
  f.transport.response.chunks.assign(1, page);
  CTempDir cacheDir;
  CString folder = cacheDir.WPath().c_str();
  if (kind != 2) f.plugin.SetProperty(CString(L"LocalCacheFolder"), &folder);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(cacheDir.Path() + "/Versewell");
    state.ResumeTiming();
    CString url;
    benchmark::DoNotOptimize(f.plugin.FindArtistUrl(CString(L"Zz Nobody"), url));
  }
  state.counters["titles"] = static_cast<double>(titles);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void FindArtistSongList(benchmark::State& state) {
  CPluginFixture f;
  f.host.hasMaxDiff = true;
  f.host.maxDiff = 1e9f;  // any index title is the artist
  const std::string index = "<li><a href=\"/wiki/Artist\" title=\"Artist\">Artist</a></li>";
  std::string page = "<ol>";
  const std::string entry = "<li> <b><a href=\"/wiki/Artist:Song\" title=\"Artist:Song\">Song lyrics</a></b></li>\n";
  while (page.size() + entry.size() <= SIZE) page += entry;
  struct CRouting : CFakeHttpTransport {
    std::string index, artist;
    platform::HINTERNET OpenRequest(platform::HINTERNET c, const wchar_t* v, const wchar_t* o, const wchar_t* r,
                                    DWORD flags) override {
      response.chunks.assign(1, std::wstring(o).rfind(L"index.php", 0) == 0 ? index : artist);
      return CFakeHttpTransport::OpenRequest(c, v, o, r, flags);
    }
  } routing;
  routing.index = index;
  routing.artist = page;
  ScopedHttpTransport scoped(routing);
  size_t songs = 0;
  for (auto _ : state) {
    std::list<SongListEntry> list;
    songs = static_cast<size_t>(f.plugin.FindArtistSongList(CString(L"Artist"), list));
  }
  state.counters["songs"] = static_cast<double>(songs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

}  // namespace

BENCHMARK_CAPTURE(CacheParse, Ordinary, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CacheParse, CollidingNames, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CacheParse, ManyKeysOneSection, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CacheParse, OneKeyNamePerSection, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetLyrics, Ordinary, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetLyrics, BadReferences, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetLyrics, BadReferencesLogged, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FindArtistUrl, Ordinary, 0)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(FindArtistUrl, CollidingTitles, 1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(FindArtistUrl, OrdinaryWithoutCache, 2)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(FindArtistSongList)->Unit(benchmark::kMillisecond);

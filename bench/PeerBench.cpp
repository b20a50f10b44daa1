// Where a user waits, side by side with what the user would pick instead.
// Each benchmark runs both sides in the same run, interleaved pair by pair,
// and prints the ratio (ours / peer: below 1 is faster than the peer,
// except "x_lxml", which says how many times faster than lxml we are):
//
//   NewObject        creating a plug-in object (its source id included)
//                    next to one MD5 of the module file, the old per-object cost
//   Download/N       Download of an N-byte page into a fresh CString, as
//                    GetLyrics does it, next to raw libcurl with a new easy
//                    handle (process CPU time; the wiki is another process;
//                    medians of the interleaved pairs)
//   PageCleanup/N    UTF-8 decoding plus lyrics extraction of an N-byte page
//                    next to a plain lxml walk of the same file
//                    (bench/lxml_walk.py, python3-lxml)
//   ColdCache        the first lookup in a 20,000-artist letter file in a new
//                    process (this program run again) next to sqlite3 on the
//                    same names in a new process
//   OneShot          `versewell --proxy P lyrics URL` next to `curl -x P URL`,
//                    wall and CPU of the whole process, medians of the
//                    interleaved pairs (VERSEWELL_BENCH_CLI picks another
//                    versewell, e.g. an installed one)
//
// CPU times are what the kernel accounts to the process (or the child), so a
// busy machine inflates wall times far more than them; prefer the CPU ratios
// and give the load (`uptime`) with any figure.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diag/ModuleFingerprint.h"
#include "platform/Module.h"
#include "platform/Path.h"
#include "plugin/Versewell.h"
#include "search/LocalCache.h"
#include "search/LyricsPage.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"
#include "text/CodePageConversion.h"

extern char** environ;

namespace {

double ProcessCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

double WallUs() {
  return static_cast<double>(
             std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                 .count()) /
         1e3;
}

// The median of `values` (sorted in place); 0 for none.
double Median(std::vector<double>& values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct SChildRun {
  double wallUs = 0;
  double cpuUs = 0;  // user + system of the child
  int status = -1;
  std::string out;
};

// Runs argv with stdout captured (stderr to /dev/null).
SChildRun RunChild(const std::vector<std::string>& args) {
  SChildRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double start = WallUs();
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return run;
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    run.out.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  rusage usage{};
  int status = 0;
  wait4(pid, &status, 0, &usage);
  run.wallUs = WallUs() - start;
  run.cpuUs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  run.status = status;
  return run;
}

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// ---------------------------------------------------------------------------
// Pages
// ---------------------------------------------------------------------------

// A song page of about `size` bytes: markup around a lyrics box whose lines
// are broken by "<br />" and hold named and numeric references and a few
// non-ASCII letters, as wiki pages do; the box is about 70 % of the page.
std::string MakeSongPage(size_t size) {
  const std::string chrome =
      "<div class=\"nav\"><a href=\"/wiki/Main_Page\">Lyrics Wiki</a> &middot; <a href=\"/wiki/Special:Random\">"
      "random</a></div><p class=\"meta\">From the wiki &mdash; edited by many hands</p>\n";
  const std::string line =
      "I&#39;ve walked the salt road &amp; the river&#39;s bend, Caf\xC3\xA9 lights &quot;low&quot;<br />"
      "&#73;&#32;&#119;&#97;&#105;&#116;&#101;&#100;&#32;&#98;&#121;&#32;&#116;&#104;&#101;&#32;&#119;&#101;&#105;&#114;"
      "<br />\n";
  std::string head = "<html><head><title>Quillfeather:Salt Road</title></head><body>";
  while (head.size() < size * 3 / 20) head += chrome;
  std::string box = "<div class='lyricbox'><div class='rtMatcher'>ring</div>";
  while (box.size() < size * 7 / 10) box += line;
  box += "<!-- end of the lyrics --></div>";
  std::string page = head + box;
  while (page.size() + 16 < size) page += chrome;
  page += "</body></html>\n";
  return page;
}

void WriteText(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// ---------------------------------------------------------------------------
// NewObject
// ---------------------------------------------------------------------------

void BM_NewObject(benchmark::State& state) {
  const CString module(platform::GetOwnModulePath());
  delete new CVersewell;  // the first object of a process reads the module once
  double ours = 0, peer = 0;
  for (auto _ : state) {
    const double t0 = ProcessCpuUs();
    delete new CVersewell;
    const double t1 = ProcessCpuUs();
    benchmark::DoNotOptimize(GetFileMD5(module));
    const double t2 = ProcessCpuUs();
    ours += t1 - t0;
    peer += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_cpu_us"] = ours / n;
  state.counters["md5_cpu_us"] = peer / n;
  state.counters["ratio"] = ours / peer;
}
BENCHMARK(BM_NewObject)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// Download
// ---------------------------------------------------------------------------

struct CDownloadWiki {
  CDownloadWiki() {
    mkdir((dir.Path() + "/static").c_str(), 0755);
    for (size_t size : {size_t(100) << 10, size_t(1) << 20}) {
      std::string page = MakeSongPage(size);
      page.resize(size, '\n');
      for (char& c : page) c = static_cast<unsigned char>(c) < 0x80 ? c : '?';  // one character a byte
      WriteText(dir.File("static/page" + std::to_string(size) + ".html"), page);
    }
    server.reset(new CWikiServer(dir.Path()));
  }
  CTempDir dir;
  std::unique_ptr<CWikiServer> server;
};

CDownloadWiki& DownloadWiki() {
  static CDownloadWiki wiki;
  return wiki;
}

size_t Append(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void BM_Download(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  CDownloadWiki& wiki = DownloadWiki();
  CTestHost host;
  host.proxy = wiki.server->WProxy().c_str();
  CVersewell plugin;
  plugin.SetHostCallback(&host);
  const std::string path = "lyrics.wiki.example/static/page" + std::to_string(size) + ".html";
  const CString url(platform::FromNativePath(path));
  const std::string curlUrl = "http://" + path;
  const std::string proxy = "http://" + wiki.server->Proxy();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::vector<double> ours, peer, ratios;
  for (auto _ : state) {
    const double t0 = ProcessCpuUs();
    {
      CString page;  // a fresh result, as GetLyrics has
      if (!static_cast<CCommonDllInterface<CLyricsDllInterface>&>(plugin).Download(url, page) ||
          static_cast<size_t>(page.GetLength()) != size) {
        state.SkipWithError("download failed");
        break;
      }
    }
    const double t1 = ProcessCpuUs();
    {
      std::string body;
      CURL* h = curl_easy_init();
      curl_easy_setopt(h, CURLOPT_URL, curlUrl.c_str());
      curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
      curl_easy_setopt(h, CURLOPT_NOPROXY, "");
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
      curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
      CURLcode rc = curl_easy_perform(h);
      curl_easy_cleanup(h);
      if (rc != CURLE_OK || body.size() != size) {
        state.SkipWithError("curl fetch failed");
        break;
      }
    }
    const double t2 = ProcessCpuUs();
    ours.push_back(t1 - t0);
    peer.push_back(t2 - t1);
    ratios.push_back((t1 - t0) / (t2 - t1));
  }
  // Medians of the interleaved pairs: a busy moment inflates both sides of
  // a pair, and a median ignores the odd outlier.
  state.counters["ours_cpu_us"] = Median(ours);
  state.counters["curl_cpu_us"] = Median(peer);
  state.counters["ratio"] = Median(ratios);
}
BENCHMARK(BM_Download)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// ---------------------------------------------------------------------------
// PageCleanup
// ---------------------------------------------------------------------------

void BM_PageCleanup(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  CTempDir dir;
  const std::string page = MakeSongPage(size);
  const std::string file = dir.File("page.html");
  WriteText(file, page);
  double ours = 0;
  size_t lyricsLength = 0;
  for (auto _ : state) {
    const double t0 = ProcessCpuUs();
    CString lyrics;
    const std::wstring wide = ConvertBytesToWide(page, CP_UTF8);
    if (!ExtractLyricsFromPage(wide, lyrics)) {
      state.SkipWithError("no lyrics");
      break;
    }
    ours += ProcessCpuUs() - t0;
    lyricsLength = static_cast<size_t>(lyrics.GetLength());
  }
  const double n = static_cast<double>(state.iterations());
  // The peer in the same run, on the same file.
  const int rounds = size > (100u << 10) ? 20 : 200;
  // Debian's python3 (with python3-lxml), not whatever python3 comes first.
  const char* python3 = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  SChildRun python = RunChild({python3, VERSEWELL_BENCH_DIR "/lxml_walk.py", file, std::to_string(rounds)});
  const double lxml = std::atof(python.out.c_str());
  if (lxml <= 0) state.SkipWithError(("lxml peer failed: " + python.out).c_str());
  state.counters["ours_cpu_us"] = ours / n;
  state.counters["lxml_cpu_us"] = lxml;
  state.counters["x_lxml"] = lxml / (ours / n);
  state.counters["lyrics_chars"] = static_cast<double>(lyricsLength);
}
BENCHMARK(BM_PageCleanup)->Arg(40 << 10)->Arg(400 << 10)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// ColdCache
// ---------------------------------------------------------------------------

constexpr int COLD_CACHE_ARTISTS = 20000;

std::wstring ArtistName(std::mt19937& rng) {
  static const wchar_t* const kSyllables[] = {L"ka", L"ro", L"mi", L"lan", L"der", L"vo", L"ste", L"ne", L"tor",
                                               L"bel", L"qui", L"sa", L"lo", L"ma", L"rin", L"gu", L"phe", L"al"};
  std::wstring name = L"A";
  const size_t target = 5 + rng() % 26;
  while (name.size() < target) name += (rng() % 5 == 0 && name.size() > 3) ? L" " : kSyllables[rng() % 18];
  name.resize(target);
  while (name.back() == L' ') name.pop_back();
  return name + L" " + std::to_wstring(rng() % 100000);
}

struct CColdCache {
  CColdCache() {
    CLocalCache cache(CString(platform::FromNativePath(dir.Path())), L"Versewell", L"bench");
    std::mt19937 rng(20000);
    std::string sql = "CREATE TABLE artist(name TEXT PRIMARY KEY COLLATE NOCASE, url TEXT);\nBEGIN;\n";
    for (int i = 0; i < COLD_CACHE_ARTISTS; ++i) {
      const std::wstring name = ArtistName(rng);
      const std::wstring url = L"lyrics.wiki.example/wiki/" + name;
      cache.QueueArtistUrl(name.c_str(), url.c_str());
      const std::string narrowName = platform::ToNativePath(name), narrowUrl = platform::ToNativePath(url);
      sql += "INSERT OR REPLACE INTO artist VALUES('" + narrowName + "','" + narrowUrl + "');\n";
      if (i == COLD_CACHE_ARTISTS / 2) probe = narrowName;
    }
    cache.FlushArtistUrls();
    sql += "COMMIT;\n";
    CString file;
    cache.GetCacheFileName(L"A", file);
    cacheFile = platform::ToNativePath(file.Str());
    WriteText(dir.File("load.sql"), sql);
    database = dir.File("artists.db");
    system(("sqlite3 '" + database + "' < '" + dir.File("load.sql") + "'").c_str());
  }
  CTempDir dir;
  std::string probe;
  std::string cacheFile;
  std::string database;
};

// This program run again: one lookup in a new process, which prints the
// time of the lookup alone (CPU and wall, microseconds) and whether it hit.
int ColdLookupChild(const char* root, const char* name) {
  const double c0 = ProcessCpuUs(), w0 = WallUs();
  CLocalCache cache(CString(platform::FromNativePath(root)), L"Versewell", L"bench");
  CString url;
  const bool found = cache.ReadArtistUrl(CString(platform::FromNativePath(name)), url, 1.0f);
  std::printf("%.1f %.1f %d\n", ProcessCpuUs() - c0, WallUs() - w0, found ? 1 : 0);
  return found ? 0 : 1;
}

void BM_ColdCache(benchmark::State& state) {
  static CColdCache fixture;
  struct stat st {};
  stat(fixture.cacheFile.c_str(), &st);
  const std::string self = SelfPath();
  double lookupCpu = 0, lookupWall = 0, oursProcessCpu = 0, sqliteCpu = 0;
  for (auto _ : state) {
    SChildRun ours = RunChild({self, "--cold-lookup", fixture.dir.Path(), fixture.probe});
    double cpu = 0, wall = 0;
    int hit = 0;
    if (std::sscanf(ours.out.c_str(), "%lf %lf %d", &cpu, &wall, &hit) != 3 || hit != 1) {
      state.SkipWithError(("cold lookup failed: " + ours.out).c_str());
      break;
    }
    SChildRun peer = RunChild({"sqlite3", fixture.database,
                               "SELECT url FROM artist WHERE name='" + fixture.probe + "' COLLATE NOCASE;"});
    if (peer.out.empty()) {
      state.SkipWithError("sqlite3 found nothing");
      break;
    }
    lookupCpu += cpu;
    lookupWall += wall;
    oursProcessCpu += ours.cpuUs;
    sqliteCpu += peer.cpuUs;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["lookup_cpu_us"] = lookupCpu / n;
  state.counters["lookup_wall_us"] = lookupWall / n;
  state.counters["parse_MBps"] = static_cast<double>(st.st_size) / (lookupCpu / n);
  state.counters["process_cpu_us"] = oursProcessCpu / n;
  state.counters["sqlite3_cpu_us"] = sqliteCpu / n;
  state.counters["ratio"] = oursProcessCpu / sqliteCpu;
}
BENCHMARK(BM_ColdCache)->Unit(benchmark::kMillisecond)->Iterations(30);

// ---------------------------------------------------------------------------
// OneShot
// ---------------------------------------------------------------------------

void BM_OneShot(benchmark::State& state) {
  const char* cli = std::getenv("VERSEWELL_BENCH_CLI");
  const std::string program = cli != nullptr && *cli != '\0' ? cli : VERSEWELL_CLI;
  CTempDir home;
  setenv("XDG_CACHE_HOME", home.Path().c_str(), 1);
  CWikiServer server(VERSEWELL_SOURCE_DIR "/wiki/sample");
  const std::string url = "lyrics.wiki.example/wiki/Quillfeather:Salt_Road";
  std::vector<double> oursWall, oursCpu, curlWall, curlCpu, wallRatio, cpuRatio;
  for (auto _ : state) {
    SChildRun ours = RunChild({program, "--proxy", server.Proxy(), "lyrics", url});
    SChildRun peer = RunChild({"curl", "-s", "-x", server.Proxy(), "http://" + url});
    if (ours.status != 0 || ours.out.empty() || peer.status != 0 || peer.out.empty()) {
      state.SkipWithError("a one-shot run failed");
      break;
    }
    oursWall.push_back(ours.wallUs);
    oursCpu.push_back(ours.cpuUs);
    curlWall.push_back(peer.wallUs);
    curlCpu.push_back(peer.cpuUs);
    wallRatio.push_back(ours.wallUs / peer.wallUs);
    cpuRatio.push_back(ours.cpuUs / peer.cpuUs);
  }
  // Medians of the interleaved pairs (see BM_Download).
  state.counters["ours_wall_us"] = Median(oursWall);
  state.counters["ours_cpu_us"] = Median(oursCpu);
  state.counters["curl_wall_us"] = Median(curlWall);
  state.counters["curl_cpu_us"] = Median(curlCpu);
  state.counters["wall_ratio"] = Median(wallRatio);
  state.counters["cpu_ratio"] = Median(cpuRatio);
}
BENCHMARK(BM_OneShot)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--cold-lookup") == 0) return ColdLookupChild(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::system("uptime");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::system("uptime");
  return 0;
}

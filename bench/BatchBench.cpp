// `versewell batch` at library scale: 200 songs by 20 artists against the
// loopback wiki, every response held back 50 ms (versewell-wiki --delay-ms),
// with one worker and with four. Each run is the real program, started as a
// user starts it; its --stats line gives the downloads.
//
// Counters: downloads (must be exactly 20 artist lookups + 20 song lists +
// 200 lyrics pages = 240: each artist's index page and song list once per
// run), and for --jobs 4 the speed-up over --jobs 1 (target: at least 3.5).
#include <benchmark/benchmark.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "support/TempDir.h"
#include "support/WikiServer.h"

namespace {

constexpr int ARTISTS = 20;
constexpr int SONGS_PER_ARTIST = 10;
constexpr int RESPONSE_DELAY_MS = 50;
constexpr unsigned EXPECTED_DOWNLOADS = ARTISTS + ARTISTS + ARTISTS * SONGS_PER_ARTIST;

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }
std::string ArtistName(int a) { return "Benchmark Band " + Two(a); }
std::string SongName(int s) { return "Song Number " + Two(s); }
std::string PageName(const std::string& text) {
  std::string page = text;
  for (char& c : page)
    if (c == ' ') c = '_';
  return page;
}

// A content folder in the sample wiki's format, and the song list.
struct SBenchWiki {
  CTempDir dir;
  std::string strList;

  SBenchWiki() {
    namespace fs = std::filesystem;
    fs::create_directories(dir.File("wiki"));
    fs::create_directories(dir.File("categories"));
    std::string index, list;
    for (int a = 1; a <= ARTISTS; ++a) {
      const std::string artist = ArtistName(a), artistPage = PageName(artist);
      index += "/wiki/" + artistPage + "\t" + artist + "\t" + artist + "\n";
      std::string page = "<html><body><h1>" + artist + "</h1><ul>\n";
      for (int s = 1; s <= SONGS_PER_ARTIST; ++s) {
        const std::string song = SongName(s), songPage = artistPage + ":" + PageName(song);
        page += "<li> <b><a href=\"/wiki/" + songPage + "\" title=\"" + artist + ":" + song + "\">" + song +
                "</a></b>\n";
        WriteFileBytes(dir.File("wiki/" + songPage + ".html"),
                       "<html><body><div class='lyricbox'><div class='rtMatcher'></div>" + song + " by " + artist +
                           ",<br />\nfirst verse line,<br />\nsecond verse line.<!-- end --></div></body></html>");
        list += artist + "\t" + song + "\n";
      }
      WriteFileBytes(dir.File("wiki/" + artistPage + ".html"), page + "</ul></body></html>");
    }
    WriteFileBytes(dir.File("categories/Artists_B.tsv"), index);
    strList = dir.File("songs.txt");
    WriteFileBytes(strList, list);
  }
};

double g_dOneWorkerSeconds = 0;

void Batch(benchmark::State& state) {
  static SBenchWiki wiki;
  static CWikiServer server([] {
    SWikiServerOptions options;
    options.root = wiki.dir.Path();
    options.delayMs = RESPONSE_DELAY_MS;
    return options;
  }());
  const int jobs = static_cast<int>(state.range(0));
  const std::string errors = wiki.dir.File("stderr-" + std::to_string(jobs) + ".txt");
  const std::string command = std::string("env -u http_proxy -u HTTP_PROXY -u no_proxy -u NO_PROXY ") +
                              VERSEWELL_CLI + " --plugin " + VERSEWELL_PLUGIN_PATH + " --proxy " + server.Proxy() +
                              " --no-cache --stats --no-progress batch " + wiki.strList +
                              " --jsonl --jobs " + std::to_string(jobs) + " >/dev/null 2>" + errors;
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) != 0) {
      state.SkipWithError(("versewell failed: " + ReadFileBytes(errors)).c_str());
      return;
    }
  }
  std::smatch match;
  const std::string report = ReadFileBytes(errors);
  static const std::regex STATS(
      R"(downloads (\d+) = artist lookups (\d+) \+ song lists (\d+) \+ lyrics pages (\d+))");
  if (!std::regex_search(report, match, STATS)) {
    state.SkipWithError(("no --stats line: " + report).c_str());
    return;
  }
  const unsigned downloads = static_cast<unsigned>(std::stoul(match[1]));
  state.counters["downloads"] = downloads;
  state.counters["artist_lookups"] = std::stod(match[2]);
  state.counters["song_lists"] = std::stod(match[3]);
  state.counters["lyrics_pages"] = std::stod(match[4]);
  if (downloads != EXPECTED_DOWNLOADS)
    state.SkipWithError(("expected " + std::to_string(EXPECTED_DOWNLOADS) + " downloads: " + report).c_str());
  if (jobs == 1) g_dOneWorkerSeconds = seconds;
  if (jobs > 1 && g_dOneWorkerSeconds > 0) state.counters["speedup_vs_jobs_1"] = g_dOneWorkerSeconds / seconds;
}

BENCHMARK(Batch)->Arg(1)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

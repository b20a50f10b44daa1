// The plug-in's thread guarantees, under load: separate plug-in objects
// searching from separate threads at once, against the loopback wiki and
// one shared cache folder, while another thread changes "TraceLevel" and the
// log folder and merges the log. Built with ThreadSanitizer by the "tsan"
// stage of scripts/test.sh, where every data race fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "diag/TraceLog.h"
#include "plugin/SiteHost.h"
#include "plugin/Versewell.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

namespace {

const int SEARCH_THREADS = 4;
const int ROUNDS = 3;

std::wstring Site(const std::wstring& path) { return std::wstring(VERSEWELL_SITE_HOST_W) + path; }

// What one search thread saw that it should not have.
struct SThreadResult {
  std::vector<std::wstring> problems;
  void Expect(bool ok, const std::wstring& what) {
    if (!ok) problems.push_back(what);
  }
};

void SearchLoop(const std::wstring& proxy, const std::wstring& cacheFolder, int index, SThreadResult& result) {
  CTestHost host;
  host.proxy = proxy.c_str();
  host.hasMaxDiff = true;
  host.maxDiff = 30.0f;  // "Quillfeather (UK)" is 25 from "Quillfeather", found on the second index page
  CVersewell plugin;
  plugin.SetHostCallback(&host);
  CString folder = cacheFolder.c_str();
  result.Expect(plugin.SetProperty(L"LocalCacheFolder", &folder) == 1, L"cache folder refused");

  // Each thread starts at a different artist so that the index pages, the
  // cache files and the lyrics pages are all in use at the same moment.
  const wchar_t* const artists[] = {L"Quillfeather", L"Zinc Parade", L"Quillfeather (UK)", L"4 Winds Ceilidh Band"};
  const wchar_t* const urls[] = {L"/wiki/Quillfeather", L"/wiki/Zinc_Parade", L"/wiki/Quillfeather",
                                 L"/wiki/4_Winds_Ceilidh_Band"};
  for (int round = 0; round < ROUNDS; ++round) {
    for (int a = 0; a < 4; ++a) {
      const int k = (a + index) % 4;
      CString url;
      const BOOL found = plugin.FindArtistUrl(artists[k], url);
      result.Expect(found == 1 && url.Str() == Site(urls[k]), std::wstring(L"FindArtistUrl ") + artists[k] + L" round " + std::to_wstring(round) + L" result " + std::to_wstring(found) +
                                                                  L" gave " + url.Str());
    }
    std::list<SongListEntry> songs;
    const int count = plugin.FindArtistSongList(L"Quillfeather", songs);
    result.Expect(count == 8 && songs.size() == 8u, L"song list of " + std::to_wstring(count));
    CString lyrics;
    result.Expect(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Salt_Road").c_str(), lyrics) == 1 &&
                      lyrics.Find(L"Down the salt road in the grey of the morning,\r\n") == 0,
                  L"lyrics of Salt Road");
    CString refused;
    result.Expect(plugin.GetLyrics(Site(L"/wiki/Quillfeather:Harbour_Hymn").c_str(), refused) == 0,
                  L"not-licensed page accepted");
  }
  unsigned started = 0, succeeded = 0;
  plugin.GetProperty(L"StatisticDownloadCounter", &started);
  plugin.GetProperty(L"StatisticSuccessfulDownloads", &succeeded);
  result.Expect(started > 0 && succeeded <= started, L"statistics");
}

// True when `line` is "hh:mm:ss.mmm TID TAG: message" as the writer formats it.
bool IsTraceLine(const std::wstring& line) {
  if (line.size() < 16 || line[2] != L':' || line[5] != L':' || line[8] != L'.' || line[12] != L' ') return false;
  const size_t tagEnd = line.find(L": ", 13);
  return tagEnd != std::wstring::npos;
}

}  // namespace

TEST(Threads, ObjectsSearchInParallelWhileLogSettingsChangeAndMerge) {
  CWikiServer server(std::string(VERSEWELL_SOURCE_DIR) + "/tests/wiki");
  CTempDir cacheDir, logA, logB;
  const std::wstring proxy = server.WProxy();

  std::atomic<int> running{SEARCH_THREADS};
  std::vector<SThreadResult> results(SEARCH_THREADS);
  std::vector<std::thread> threads;
  for (int i = 0; i < SEARCH_THREADS; ++i)
    threads.emplace_back([&, i] {
      SearchLoop(proxy, cacheDir.WPath(), i, results[i]);
      --running;
    });

  // The fifth thread: its own object, driving the process-wide trace log.
  std::thread settings([&] {
    CVersewell plugin;
    const wchar_t* const levels[] = {L"Debug", L"Error", L"Verbose", L"Warning", L"Info"};
    int n = 0;
    while (running.load() > 0) {
      CString folder = (n % 2 == 0 ? logA : logB).WPath().c_str();
      CString level = levels[n % 5];
      plugin.SetProperty(L"LogFolder", &folder);
      plugin.SetProperty(L"TraceLevel", &level);
      if (n % 3 == 2) plugin.CallMethod(L"CloseAndMergeLog", nullptr);
      ++n;
      std::this_thread::yield();
    }
    plugin.CallMethod(L"CloseAndMergeLog", nullptr);
  });
  for (std::thread& t : threads) t.join();
  settings.join();

  for (int i = 0; i < SEARCH_THREADS; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(results[i].problems.empty()) << ToUtf8(results[i].problems.front());
  }
  EXPECT_FALSE(g_TraceLog.IsOpen());

  // Every trace file was merged and deleted; what is left are parent logs,
  // each empty or a UTF-16 file of whole lines: blocks of an empty line, a trace
  // file's name, and trace lines. Lines written by several threads at once
  // never run into each other.
  size_t traceLines = 0;
  for (const CTempDir* dir : {&logA, &logB}) {
    for (const std::string& name : dir->List()) {
      SCOPED_TRACE(name);
      EXPECT_NE(name.rfind("Versewell_", 0), 0u) << "trace file left behind";
      const std::string bytes = ReadFileBytes(dir->File(name));
      // A merge that finds no trace file (no line was written since the log
      // was last reopened) still creates the parent log, and leaves it empty.
      if (bytes.empty()) continue;
      ASSERT_GE(bytes.size(), 2u);
      EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
      const std::wstring text = DecodeUtf16Le(bytes.substr(2));
      size_t start = 0;
      while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        ASSERT_NE(end, std::wstring::npos) << "unterminated line";
        const std::wstring line = text.substr(start, end - start);
        const bool ok = line.empty() || line.rfind(L"Versewell_", 0) == 0 || IsTraceLine(line);
        EXPECT_TRUE(ok) << ToUtf8(line);
        EXPECT_EQ(line.find(L"Can not create directory"), std::wstring::npos) << ToUtf8(line);
        if (IsTraceLine(line)) ++traceLines;
        start = end + 2;
      }
    }
  }
  EXPECT_GT(traceLines, 0u);
}

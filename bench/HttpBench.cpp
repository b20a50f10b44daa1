// Downloads per second of a 100 KB page from the loopback wiki: the
// plug-in's Download (random agent, transport seam, UTF-8 decoding) next to
// a plain libcurl fetch of the same page with a new easy handle per fetch.
// Both go through the server as a proxy, as the plug-in does.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "http/HttpDownloader.h"
#include "plugin/Versewell.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/WikiServer.h"

namespace {

constexpr size_t PAGE_SIZE = 100 * 1024;
const char* const PAGE_URL = "http://lyrics.wiki.example/static/page.html";

// The server and its content, shared by both benchmarks.
struct CBenchWiki {
  CBenchWiki() {
    mkdir((dir.Path() + "/static").c_str(), 0755);
    std::string page = "<html><body><div class='lyricbox'>";
    const std::string verse = "Salt on the road and a lantern of brass,\n";
    while (page.size() + verse.size() < PAGE_SIZE - 32) page += verse;
    page += "</div><!-- end --></body></html>";
    page.resize(PAGE_SIZE, '\n');
    WriteFileBytes(dir.File("static/page.html"), page);
    server.reset(new CWikiServer(dir.Path()));
  }
  CTempDir dir;
  std::unique_ptr<CWikiServer> server;
};

CBenchWiki& Wiki() {
  static CBenchWiki wiki;
  return wiki;
}

size_t Append(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void BM_PluginDownload(benchmark::State& state) {
  CBenchWiki& wiki = Wiki();
  CTestHost host;
  host.proxy = wiki.server->WProxy().c_str();
  CVersewell plugin;
  plugin.SetHostCallback(&host);
  CString page;
  const CString url = L"lyrics.wiki.example/static/page.html";
  for (auto _ : state) {
    if (!static_cast<CCommonDllInterface<CLyricsDllInterface>&>(plugin).Download(url, page) ||
        static_cast<size_t>(page.GetLength()) != PAGE_SIZE) {
      state.SkipWithError("download failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * PAGE_SIZE));
  state.counters["downloads/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PluginDownload)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The downloader alone: no agent drawing, no decoding to wide text.
void BM_DownloaderFetch(benchmark::State& state) {
  CBenchWiki& wiki = Wiki();
  const std::string proxy = wiki.server->Proxy();
  for (auto _ : state) {
    CHttpDownloaderBase d(proxy, L"");
    d.SetHeader("User-Agent", "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)");
    if (!d.Fetch("lyrics.wiki.example/static/page.html") || d.m_strBody.size() != PAGE_SIZE) {
      state.SkipWithError("fetch failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["downloads/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DownloaderFetch)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PlainCurlNewHandlePerFetch(benchmark::State& state) {
  CBenchWiki& wiki = Wiki();
  const std::string proxy = "http://" + wiki.server->Proxy();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  for (auto _ : state) {
    std::string body;
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, PAGE_URL);
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");  // NO_PROXY in the environment must not bypass it
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    CURLcode rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK || body.size() != PAGE_SIZE) {
      state.SkipWithError("fetch failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * PAGE_SIZE));
  state.counters["downloads/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainCurlNewHandlePerFetch)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

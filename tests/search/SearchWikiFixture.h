// A plug-in object wired to the loopback test wiki (tests/wiki) through the
// real proxy path, with a trace capture at the debug level and, on request,
// an artist cache in a temporary folder.
#ifndef VERSEWELL_TESTS_SEARCH_SEARCH_WIKI_FIXTURE_H
#define VERSEWELL_TESTS_SEARCH_SEARCH_WIKI_FIXTURE_H

#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/HttpTransportTesting.h"
#include "plugin/SiteHost.h"
#include "plugin/Versewell.h"
#include "search/LocalCache.h"
#include "support/TempDir.h"
#include "support/TestHost.h"
#include "support/TraceCapture.h"
#include "support/WikiServer.h"

// Exposes the object's cache for inspection.
class CSearchProbe : public CVersewell {
 public:
  CLocalCache* Cache() const { return m_pArtistCache; }
};

class SearchWiki : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new CWikiServer(std::string(VERSEWELL_SOURCE_DIR) + "/tests/wiki"); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }

  void SetUp() override {
    host.proxy = s_server->WProxy().c_str();
    // The scripted stops count the search's own queries; the transport's
    // polls while a page travels are not counted.
    host.isUncountedQuery = &platform::IsStopQueryBeingAskedForTesting;
    plugin.SetHostCallback(&host);
  }

  static std::wstring Site(const std::wstring& path) { return std::wstring(VERSEWELL_SITE_HOST_W) + path; }

  void UseCache() {
    CString folder = cacheDir.WPath().c_str();
    ASSERT_EQ(plugin.SetProperty(L"LocalCacheFolder", &folder), 1);
  }

  // The address the cache holds for exactly this title, or "".
  std::wstring Cached(const wchar_t* title) {
    CString url;
    if (plugin.Cache() == nullptr || !plugin.Cache()->ReadArtistUrl(title, url, 0.0f)) return L"";
    return url.GetString();
  }

  // Number of titles in the cache file that `artist` maps to.
  size_t CachedTitles(const wchar_t* artist) {
    CString path;
    std::list<std::wstring> names;
    if (plugin.Cache() == nullptr || !plugin.Cache()->GetCacheFileName(artist, path)) return 0;
    plugin.Cache()->ReadSectionNames(path, names);
    return names.size();
  }

  unsigned Statistic(const wchar_t* name) {
    unsigned value = 12345;
    EXPECT_EQ(plugin.GetProperty(name, &value), 1);
    return value;
  }
  unsigned Downloads() { return Statistic(L"StatisticDownloadCounter"); }

  // The addresses downloaded so far, from the "Download: " trace lines.
  std::vector<std::wstring> DownloadedUrls() const {
    std::vector<std::wstring> urls;
    const std::wstring prefix = L"Download: ";
    for (const std::wstring& m : trace.Messages())
      if (m.compare(0, prefix.size(), prefix) == 0) urls.push_back(m.substr(prefix.size()));
    return urls;
  }

  static inline CWikiServer* s_server = nullptr;
  CTraceCapture trace{40};
  CTempDir cacheDir;
  CTestHost host;
  CSearchProbe plugin;
};

#endif  // VERSEWELL_TESTS_SEARCH_SEARCH_WIKI_FIXTURE_H

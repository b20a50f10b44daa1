// FindArtistUrl end to end: the plug-in downloads category pages from the
// loopback wiki through its proxy path and fills its artist cache.
#include <filesystem>

#include "platform/PrivateProfile.h"
#include "search/SearchWikiFixture.h"
#include "support/FakeHttpTransport.h"

namespace {
const wchar_t Q_INDEX_FROM_QUILLFEATHER[] = L"/index.php?title=Category:Artists_Q&from=Quillfeather";
}

TEST_F(SearchWiki, ExactMatchOnFirstEntryNeedsOneDownloadAndCachesNothing) {
  UseCache();
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quillfeather", url), 1);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Quillfeather"));
  EXPECT_EQ(Downloads(), 1u);
  ASSERT_EQ(DownloadedUrls().size(), 1u);
  EXPECT_EQ(DownloadedUrls()[0], Site(Q_INDEX_FROM_QUILLFEATHER));
  EXPECT_EQ(CachedTitles(L"Quillfeather"), 0u);  // not even the exact match

  // The name goes out as the host wrote it; the index compares without case.
  CString lower;
  EXPECT_EQ(plugin.FindArtistUrl(L"quillfeather", lower), 1);
  EXPECT_EQ(lower.Str(), url.Str());
  ASSERT_FALSE(DownloadedUrls().empty());
  EXPECT_EQ(DownloadedUrls().back(), Site(L"/index.php?title=Category:Artists_Q&from=quillfeather"));
}

TEST_F(SearchWiki, MatchOnlyOnPreviousPageIsFoundInSecondPass) {
  UseCache();
  host.hasMaxDiff = true;
  host.maxDiff = 30.0f;  // "Quillfeather (UK)" is 25 from "Quillfeather"
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quillfeather (UK)", url), 1);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Quillfeather"));
  const std::vector<std::wstring> urls = DownloadedUrls();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0], Site(L"/index.php?title=Category:Artists_Q&from=Quillfeather+(UK)"));
  // The link's "&amp;" is decoded and its blanks stay '+'.
  EXPECT_EQ(urls[1], Site(L"/index.php?title=Category:Artists_Q&until=Quillfeather+Revival"));
  // Both pages went into the cache, the candidate included; nothing else.
  EXPECT_EQ(Cached(L"Quillfeather Revival"), Site(L"/wiki/Quillfeather_Revival"));
  EXPECT_EQ(Cached(L"Quota Yard"), Site(L"/wiki/Quota_Yard"));
  EXPECT_EQ(Cached(L"Quartz Hours"), Site(L"/wiki/Quartz_Hours"));
  EXPECT_EQ(Cached(L"Quillfeather"), Site(L"/wiki/Quillfeather"));
  EXPECT_EQ(Cached(L"Quartz Harbour"), L"");
  EXPECT_EQ(Cached(L"Quarry & Kiln"), L"");
}

TEST_F(SearchWiki, NoMatchReadsPageWithoutPreviousLinkTwiceAndCachesAll) {
  UseCache();
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Zachary Nobody", url), 0);
  EXPECT_TRUE(url.IsEmpty());
  const std::vector<std::wstring> urls = DownloadedUrls();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0], Site(L"/index.php?title=Category:Artists_Z&from=Zachary+Nobody"));
  EXPECT_EQ(urls[1], urls[0]);
  EXPECT_EQ(CachedTitles(L"Zachary Nobody"), 11u);
  EXPECT_EQ(Cached(L"Zulu Quartet"), Site(L"/wiki/Zulu_Quartet"));
}

TEST_F(SearchWiki, FailingSecondDownloadLeavesCandidateButFails) {
  host.hasMaxDiff = true;
  host.maxDiff = 10.0f;  // the extra blank costs 5
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Pale  Lanterns", url), 0);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Pale_Lanterns"));
  const std::vector<std::wstring> urls = DownloadedUrls();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[1], Site(L"/wiki/Index_That_Went_Missing"));
  EXPECT_TRUE(trace.Contains(L"Download fails: " + urls[1]));
  EXPECT_EQ(Statistic(L"StatisticSuccessfulDownloads"), 1u);
}

// The first page's titles are written before the second download, so a
// failing one loses none of them.
TEST_F(SearchWiki, FailingSecondDownloadKeepsTheFirstPageInTheCache) {
  UseCache();
  host.hasMaxDiff = true;
  host.maxDiff = 10.0f;
  // Whether the page's last title is on disk, at every counted stop query
  // (the last one is asked before the second download).
  CString file;
  ASSERT_TRUE(plugin.Cache()->GetCacheFileName(L"Pilot Gig Crew", file));
  std::vector<bool> onDisk;
  host.isUncountedQuery = [&] {
    if (platform::IsStopQueryBeingAskedForTesting()) return true;
    wchar_t buffer[200];
    onDisk.push_back(platform::GetPrivateProfileString(L"Pilot Gig Crew", L"ArtistUrl", L"", buffer, 200,
                                                       file.GetString()) != 0);
    return false;
  };
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Pale  Lanterns", url), 0);
  ASSERT_EQ(DownloadedUrls().size(), 2u);
  ASSERT_GE(onDisk.size(), 2u);
  EXPECT_FALSE(onDisk.front());
  EXPECT_TRUE(onDisk.back()) << ::testing::PrintToString(onDisk);
  EXPECT_EQ(Cached(L"Pale Lanterns"), Site(L"/wiki/Pale_Lanterns"));
  EXPECT_EQ(Cached(L"Pilot Gig Crew"), Site(L"/wiki/Pilot_Gig_Crew"));
}

TEST_F(SearchWiki, CacheHitNeedsNoDownloadAndLogsAtInfoLevel) {
  UseCache();
  CString url;
  ASSERT_EQ(plugin.FindArtistUrl(L"Zachary Nobody", url), 0);  // fills the Z cache
  const unsigned before = Downloads();

  CString hit;
  EXPECT_EQ(plugin.FindArtistUrl(L"zinc parade", hit), 1);
  EXPECT_EQ(hit.Str(), Site(L"/wiki/Zinc_Parade"));
  EXPECT_EQ(Downloads(), before);
  EXPECT_EQ(trace.Count(L"ArtistUrl found in local cache. zinc parade, " + Site(L"/wiki/Zinc_Parade"), 30), 1);

  // Without a host the threshold stays 1.0 and the cache still answers...
  plugin.SetHostCallback(nullptr);
  CString again;
  EXPECT_EQ(plugin.FindArtistUrl(L"Zinc Parade", again), 1);
  EXPECT_EQ(again.Str(), hit.Str());
  // ...but nothing else can be found: the download is refused at once.
  CString none;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quillfeather", none), 0);
  EXPECT_TRUE(none.IsEmpty());
  EXPECT_EQ(Downloads(), before);
}

TEST_F(SearchWiki, StopRequestIsAskedOncePerEntry) {
  UseCache();
  host.stopAfterQueries = 1 + 5;  // the download's query, then five entries
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Zachary Nobody", url), 0);
  EXPECT_EQ(Downloads(), 1u);
  EXPECT_EQ(host.stopQueries.load(), 7);
  EXPECT_EQ(CachedTitles(L"Zachary Nobody"), 5u);
  EXPECT_EQ(Cached(L"Zinc Parade"), Site(L"/wiki/Zinc_Parade"));  // fifth entry
  EXPECT_EQ(Cached(L"Zither Anchors"), L"");                      // sixth, not read
}

TEST_F(SearchWiki, StopRequestKeepsBestCandidateSoFar) {
  host.hasMaxDiff = true;
  host.maxDiff = 10.0f;
  host.stopAfterQueries = 1 + 2;  // "Pale Lanterns" is the first entry
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Pale  Lanterns", url), 0);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Pale_Lanterns"));
  EXPECT_EQ(Downloads(), 1u);
}

TEST_F(SearchWiki, LeadingCharacterChoosesCategoryOrEndsAtOnce) {
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"4 Winds Ceilidh Band", url), 1);
  EXPECT_EQ(url.Str(), Site(L"/wiki/4_Winds_Ceilidh_Band"));
  ASSERT_FALSE(DownloadedUrls().empty());
  EXPECT_EQ(DownloadedUrls().back(), Site(L"/index.php?title=Category:Artists_0&from=4+Winds+Ceilidh+Band"));

  const unsigned before = Downloads();
  for (const wchar_t* name : {L"", L" Quillfeather", L"\x00C9lan Vital", L"-Quillfeather"}) {
    CString none = L"kept";
    EXPECT_EQ(plugin.FindArtistUrl(name, none), 0);
    EXPECT_EQ(none.Str(), L"kept");
  }
  EXPECT_EQ(Downloads(), before);
}

TEST_F(SearchWiki, EqualDistancesPickFirstWhileCacheKeepsLaterAddress) {
  UseCache();
  host.hasMaxDiff = true;
  host.maxDiff = 10.0f;
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quiet  Harbour", url), 1);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Quiet_Harbour"));
  EXPECT_EQ(Cached(L"Quiet Harbour"), Site(L"/wiki/Quiet_Harbour_(Band)"));
}

TEST_F(SearchWiki, TitlesAreComparedAfterDecodingReferences) {
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quinn's Reel Band", url), 1);
  EXPECT_EQ(url.Str(), Site(L"/wiki/Quinn%27s_Reel_Band"));
  CString amp;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quarry & Kiln", amp), 1);
  EXPECT_EQ(amp.Str(), Site(L"/wiki/Quarry_%26_Kiln"));
}

TEST_F(SearchWiki, ZeroThresholdFindsNothingInIndex) {
  host.hasMaxDiff = true;
  host.maxDiff = 0.0f;
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quillfeather", url), 0);
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_EQ(Downloads(), 2u);
}

TEST_F(SearchWiki, StaleAddressPassedInIsNotReportedAsFound) {
  CString url = L"stale";
  EXPECT_EQ(plugin.FindArtistUrl(L"Zachary Nobody", url), 0);
  EXPECT_EQ(url.Str(), L"stale");
}

TEST_F(SearchWiki, LineBreaksInNameCannotSplitTheRequest) {
  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Quill\r\nX-Injected: 1", url), 0);
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_EQ(Statistic(L"StatisticSuccessfulDownloads"), 0u);
}

// An index page with a long stretch of unclosed "<a href=" openings: the
// "previous 200" pattern alone would backtrack quadratically over it until
// the regex engine gave up with a complexity error.
TEST_F(SearchWiki, HostileIndexPageIsReadWithoutRegexBlowUp) {
  CTempDir root;
  std::filesystem::create_directories(root.File("categories"));
  std::string hostile;
  for (int i = 0; i < 100000; ++i) hostile += "<a href=\"x\" ";
  WriteFileBytes(root.File("categories/Artists_H.tsv"),
                 "/wiki/Hostile_Indexes\tHostile Indexes\tHostile Indexes\n"
                 "/wiki/Hz\tHz\tZz" + hostile + "\n");
  CWikiServer hostileSite(root.Path());
  host.proxy = hostileSite.WProxy().c_str();

  CString url;
  EXPECT_EQ(plugin.FindArtistUrl(L"Hostile Index", url), 0);
  EXPECT_EQ(Statistic(L"StatisticSuccessfulDownloads"), 2u);
  EXPECT_FALSE(trace.Contains(L"String too complex"));
}

TEST_F(SearchWiki, IndexPageThatDownloadsEmptyGivesNothingAndTheMatcherSaysWhy) {
  UseCache();
  CFakeHttpTransport emptyPages;  // 200 OK with no body, for every request
  ScopedHttpTransport scope(emptyPages);
  CString url;
  const size_t earlier = trace.Messages().size();  // the cache folder setting
  EXPECT_EQ(plugin.FindArtistUrl(L"Quillfeather", url), 0);
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_EQ(Downloads(), 2u);
  EXPECT_EQ(Statistic(L"StatisticSuccessfulDownloads"), 2u);
  EXPECT_EQ(CachedTitles(L"Quillfeather"), 0u);
  // Each pass: the download, the entry pattern refusing the empty text and
  // the loop finding the matcher not initialised; the first pass also looks
  // for the "previous 200" link in it, so the second pass reads the same page.
  const std::wstring download = L"Download: " + Site(Q_INDEX_FROM_QUILLFEATHER);
  const std::vector<std::wstring> expected = {
      download,
      L"Input string is empty",
      L"NOT initialized (string to match is empty)",
      L"Input string is empty",
      download,
      L"Input string is empty",
      L"NOT initialized (string to match is empty)",
  };
  const std::vector<std::wstring> all = trace.Messages();
  EXPECT_EQ(std::vector<std::wstring>(all.begin() + static_cast<long>(earlier), all.end()), expected);
  EXPECT_EQ(trace.Count(L"Input string is empty", 20), 3);
  EXPECT_EQ(trace.Count(L"NOT initialized (string to match is empty)", 10), 2);
  EXPECT_EQ(trace.Count(download, 40), 2);
}

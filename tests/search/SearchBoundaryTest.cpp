// No exception reaches the host: whatever fails underneath a search (a
// transport that runs out of memory, a failing file layer under the cache or
// the trace log, a cache folder that vanishes mid-search), the search
// returns its failure result, or its normal result where the failure does
// not touch it, and the trace log says what happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <list>
#include <new>
#include <string>

#include "diag/TraceLevels.h"
#include "search/SearchWikiFixture.h"
#include "support/FailingFileIo.h"
#include "support/FailingFileSystem.h"
#include "support/FakeHttpTransport.h"
#include "platform/ErrorText.h"
#include "platform/PrivateProfile.h"

namespace {

// A host whose stop query runs `action` once, at its n-th call: a hook into
// the middle of a search.
class CHookedHost : public CTestHost {
 public:
  int hookAt = -1;
  std::function<void()> action;
  bool IsStopRequested() override {
    if (m_nCalls++ == hookAt && action) action();
    return false;
  }

 private:
  int m_nCalls = 0;
};

// The cache's INI files on a broken disk: every call fails with `error`,
// or raises std::bad_alloc when `raise` is set.
class CBrokenProfile : public platform::IPrivateProfile {
 public:
  bool raise = false;
  DWORD GetPrivateProfileString(const wchar_t*, const wchar_t*, const wchar_t*, wchar_t* buffer, DWORD size,
                                const wchar_t*) override {
    Fail();
    if (size > 0) buffer[0] = L'\0';
    return 0;
  }
  bool WritePrivateProfileString(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*) override {
    Fail();
    return false;
  }
  DWORD GetPrivateProfileSectionNames(wchar_t* buffer, DWORD size, const wchar_t*) override {
    Fail();
    if (size > 1) buffer[0] = buffer[1] = L'\0';
    return 0;
  }

 private:
  void Fail() {
    if (raise) throw std::bad_alloc();
    platform::SetLastError(platform::ERROR_DISK_FULL);
  }
};

class ScopedProfile {
 public:
  explicit ScopedProfile(platform::IPrivateProfile& p) : m_previous(platform::SetPrivateProfileForTesting(&p)) {}
  ~ScopedProfile() { platform::SetPrivateProfileForTesting(m_previous); }
  ScopedProfile(const ScopedProfile&) = delete;
  ScopedProfile& operator=(const ScopedProfile&) = delete;

 private:
  platform::IPrivateProfile* m_previous;
};

class SearchBoundary : public SearchWiki {};

const wchar_t SALT_ROAD[] = L"lyrics.wiki.example/wiki/Quillfeather:Salt_Road";

}  // namespace

TEST_F(SearchBoundary, TransportOutOfMemoryEndsEverySearchWithAFailureAndATraceLine) {
  CFakeHttpTransport fake;
  fake.throwBadAllocInSend = true;
  ScopedHttpTransport scope(fake);

  CString url;
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.FindArtistUrl(L"Quillfeather", url)));
  EXPECT_EQ(1, trace.Count(L"FindArtistUrl(): stopped by an exception: std::bad_alloc", TRACE_ERROR));

  std::list<SongListEntry> songs(2);
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.FindArtistSongList(L"Quillfeather", songs)));
  EXPECT_EQ(2u, songs.size());  // the list is not touched when the artist is not found
  EXPECT_EQ(2, trace.Count(L"FindArtistUrl(): stopped by an exception: std::bad_alloc", TRACE_ERROR));

  CString lyrics = L"stale";
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.GetLyrics(SALT_ROAD, lyrics)));
  EXPECT_TRUE(lyrics.IsEmpty());
  EXPECT_EQ(1, trace.Count(L"GetLyrics(): stopped by an exception: std::bad_alloc", TRACE_ERROR));
  EXPECT_GE(fake.sends, 3);
}

TEST_F(SearchBoundary, ArtistPageOutOfMemoryEndsTheSongListWithAFailure) {
  // The artist is found in the cache without a download; the artist page
  // download then runs out of memory.
  UseCache();
  ASSERT_TRUE(plugin.Cache()->WriteArtistUrl(L"Quillfeather", Site(L"/wiki/Quillfeather").c_str()));
  CFakeHttpTransport fake;
  fake.throwBadAllocInSend = true;
  ScopedHttpTransport scope(fake);
  std::list<SongListEntry> songs(1);
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.FindArtistSongList(L"Quillfeather", songs)));
  EXPECT_EQ(1, trace.Count(L"FindArtistSongList(): stopped by an exception: std::bad_alloc", TRACE_ERROR));
}

TEST_F(SearchBoundary, FailingCacheFilesCostTheCacheOnly) {
  UseCache();
  CBrokenProfile broken;
  ScopedProfile scoped(broken);
  // Two index pages of candidates, each written to the cache in vain.
  host.hasMaxDiff = true;
  host.maxDiff = 30.0f;
  CString url;
  EXPECT_NO_THROW(EXPECT_EQ(1, plugin.FindArtistUrl(L"Quillfeather (UK)", url)));
  EXPECT_EQ(url, Site(L"/wiki/Quillfeather"));
  EXPECT_EQ(1, trace.Count(L"WriteArtistUrl to LocalCache fails for: Quillfeather Revival", TRACE_DEBUG));
}

TEST_F(SearchBoundary, CacheFilesThatRaiseEndTheSearchWithAFailureAndATraceLine) {
  UseCache();
  CBrokenProfile broken;
  broken.raise = true;
  ScopedProfile scoped(broken);
  CString url;
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.FindArtistUrl(L"Quillfeather", url)));
  EXPECT_EQ(1, trace.Count(L"FindArtistUrl(): stopped by an exception: std::bad_alloc", TRACE_ERROR));
  std::list<SongListEntry> songs(3);
  EXPECT_NO_THROW(EXPECT_EQ(0, plugin.FindArtistSongList(L"Quillfeather", songs)));
  EXPECT_EQ(3u, songs.size());
}

TEST_F(SearchBoundary, FailingTraceAndFileLayersDoNotStopTheSearch) {
  CFailingFileIo io;
  io.failReads = true;
  io.writeBudget = 0;
  ScopedFileIo scopedIo(io);
  CFailingFileSystem fs;  // the trace log's files
  fs.failWrite = true;
  fs.failCreateFile = true;
  ScopedFileSystem scopedFs(fs);
  std::list<SongListEntry> songs;
  EXPECT_NO_THROW(EXPECT_EQ(8, plugin.FindArtistSongList(L"Quillfeather", songs)));
  CString lyrics;
  EXPECT_NO_THROW(EXPECT_EQ(1, plugin.GetLyrics(SALT_ROAD, lyrics)));
  EXPECT_FALSE(lyrics.IsEmpty());
}

TEST_F(SearchBoundary, CacheFolderVanishingMidSearchIsSurvived) {
  CHookedHost hooked;
  hooked.proxy = host.proxy;
  hooked.hasMaxDiff = true;
  hooked.maxDiff = 30.0f;
  plugin.SetHostCallback(&hooked);
  UseCache();
  const std::string folder = cacheDir.Path();
  hooked.hookAt = 5;  // while the first page's entries are matched and written
  bool removed = false;
  hooked.action = [&] { removed = std::filesystem::remove_all(folder) > 0; };
  CString url;
  EXPECT_NO_THROW(EXPECT_EQ(1, plugin.FindArtistUrl(L"Quillfeather (UK)", url)));
  EXPECT_TRUE(removed);
  EXPECT_EQ(url, Site(L"/wiki/Quillfeather"));
  // The cache's own folder is not made again: every later write says so.
  EXPECT_TRUE(trace.Contains(L"GetCacheFileName():Can not create directory: "));
  // The next search runs without the cache and still answers.
  const unsigned downloads = Downloads();
  CString again;
  EXPECT_NO_THROW(EXPECT_EQ(1, plugin.FindArtistUrl(L"Quillfeather (UK)", again)));
  EXPECT_EQ(again, url);
  EXPECT_EQ(downloads + 2, Downloads());
}

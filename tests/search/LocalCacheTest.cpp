// The artist address cache: file naming and directory levels, direct and
// fuzzy reads with the selection rule, round-trips of awkward names, large
// files, failures with their log lines, and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "diag/TraceLevels.h"
#include "platform/ErrorText.h"
#include "platform/Path.h"
#include "platform/PrivateProfile.h"
#include "plugin/Versewell.h"
#include "search/LocalCache.h"
#include "support/FailingFileSystem.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

class LocalCacheTest : public ::testing::Test {
 protected:
  LocalCacheTest() : m_cache(CString(m_root.WPath()), L"Versewell", L"ID42") {}
  // Built with the platform's separator, as the cache builds its paths.
  std::wstring Dir() const {
    const std::wstring sep = platform::PATH_SEPARATOR_STRING;
    return m_root.WPath() + sep + L"Versewell" + sep + L"ID42" + sep;
  }
  std::string File(const std::string& name) const { return m_root.Path() + "/Versewell/ID42/" + name; }
  CString Read(const wchar_t* artist, float threshold = 1.0f) {
    CString url = L"unchanged";
    return m_cache.ReadArtistUrl(artist, url, threshold) ? url : CString(L"<none>");
  }

  CTempDir m_root;
  CLocalCache m_cache;
};

// Fails every write; reads pass through to the real backend.
class CFailingWrites : public platform::IPrivateProfile {
 public:
  DWORD GetPrivateProfileString(const wchar_t* s, const wchar_t* k, const wchar_t* d, wchar_t* b, DWORD n,
                                const wchar_t* f) override {
    return platform::SystemPrivateProfile().GetPrivateProfileString(s, k, d, b, n, f);
  }
  bool WritePrivateProfileString(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*) override {
    platform::SetLastError(platform::ERROR_DISK_FULL);
    return false;
  }
  DWORD GetPrivateProfileSectionNames(wchar_t* b, DWORD n, const wchar_t* f) override {
    return platform::SystemPrivateProfile().GetPrivateProfileSectionNames(b, n, f);
  }
};

// Exposes the plug-in object's cache.
class CCacheProbe : public CVersewell {
 public:
  CLocalCache* Cache() const { return m_pArtistCache; }
};

// Reports that a directory is missing although it exists, as when another
// process creates it between the test and the creation.
class CRacingFileSystem : public CFailingFileSystem {
 public:
  bool PathFileExists(const std::wstring&) override { return false; }
};

}  // namespace

TEST(LeadingChar, FollowsBothCallersConventions) {
  wchar_t c = L'x';
  EXPECT_TRUE(GetLeadingChar(L"abba", c, L'#', false));
  EXPECT_EQ(c, L'A');
  EXPECT_TRUE(GetLeadingChar(L"Abba", c, L'#', true));
  EXPECT_EQ(c, L'a');
  EXPECT_TRUE(GetLeadingChar(L"zz", c, L'0', true));
  EXPECT_EQ(c, L'z');
  EXPECT_TRUE(GetLeadingChar(L"2Pac", c, L'#', false));  // the cache's files
  EXPECT_EQ(c, L'#');
  EXPECT_TRUE(GetLeadingChar(L"2Pac", c, L'0', false));  // the index pages
  EXPECT_EQ(c, L'0');
  EXPECT_TRUE(GetLeadingChar(L"7", c, 0, false));
  EXPECT_EQ(c, L'7');
  for (const wchar_t* bad : {L"", L" Abba", L"\u00D6zdemir", L"'Til Tuesday", L"@", L"\u0410"}) {
    c = L'x';
    EXPECT_FALSE(GetLeadingChar(bad, c, L'#', false));
    EXPECT_EQ(c, 0);
  }
  EXPECT_FALSE(GetLeadingChar(nullptr, c, L'#', false));
}

TEST_F(LocalCacheTest, FilesAreNamedByLeadingCharacterUnderSourceNameAndId) {
  CString path;
  ASSERT_TRUE(m_cache.GetCacheFileName(L"the Beatles", path));
  EXPECT_EQ(path, CString(Dir() + L"T.ARTISTCACHE"));
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"The Beatles", L"/wiki/The_Beatles"));
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"2Pac", L"/wiki/2Pac"));
  EXPECT_TRUE(FileExists(File("T.ARTISTCACHE")));
  EXPECT_TRUE(FileExists(File("#.ARTISTCACHE")));
  EXPECT_EQ(Read(L"2PAC"), L"/wiki/2Pac");
  // 'Beatles' looks only in B.ARTISTCACHE, even with a threshold that the
  // distance of 215 would pass.
  EXPECT_EQ(Read(L"Beatles", 1000.0f), L"<none>");
  EXPECT_EQ(Read(L"The Beatles"), L"/wiki/The_Beatles");
}

TEST_F(LocalCacheTest, FolderWithoutTrailingSeparatorGetsOne) {
  CLocalCache withSlash(CString(m_root.WPath() + platform::PATH_SEPARATOR_STRING), L"Versewell", L"ID42");
  CString a, b;
  ASSERT_TRUE(withSlash.GetCacheFileName(L"Abba", a));
  ASSERT_TRUE(m_cache.GetCacheFileName(L"Abba", b));
  EXPECT_EQ(a, b);
}

TEST_F(LocalCacheTest, DirectHitIgnoresCaseFuzzyHitIgnoresTrailingBlanks) {
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Abba", L"/wiki/ABBA"));
  EXPECT_EQ(Read(L"ABBA", 0.0f), L"/wiki/ABBA");     // direct: the threshold plays no part
  EXPECT_EQ(Read(L"abba ", 1.0f), L"/wiki/ABBA");    // fuzzy at distance 0
  EXPECT_EQ(Read(L"abba ", 0.0f), L"<none>");        // nothing is below 0
  EXPECT_EQ(Read(L"Abba (band)", 1.0f), L"<none>");  // 102
  EXPECT_EQ(Read(L"Abba (band)", 102.5f), L"/wiki/ABBA");
  EXPECT_EQ(Read(L"Abba (band)", 102.0f), L"<none>");  // strictly below
}

TEST_F(LocalCacheTest, NonAsciiCaseFindsTheSectionDirectly) {
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Bj\u00F6rk", L"/wiki/Bjork"));
  // The matcher would price \u00D6 against \u00F6 at 100; the direct lookup
  // folds every letter.
  EXPECT_EQ(Read(L"BJ\u00D6RK", 0.0f), L"/wiki/Bjork");
}

TEST_F(LocalCacheTest, SelectionTakesTheEarliestOfEqualDistances) {
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Mabc", L"/1"));
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Mabd", L"/2"));
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Mabx (live)", L"/3"));
  EXPECT_EQ(Read(L"Mabe", 100.5f), L"/1");   // /1 and /2 both at 100: file order
  EXPECT_EQ(Read(L"Mabe", 100.0f), L"<none>");
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Mabc", L"/1b"));  // a replaced value keeps its place
  EXPECT_EQ(Read(L"Mabe", 100.5f), L"/1b");
  // A closer candidate later in the file wins over an earlier one.
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Mabe  x", L"/4"));
  EXPECT_EQ(Read(L"Mabe x", 100.5f), L"/4");
}

TEST_F(LocalCacheTest, NamesWithoutUsableLeadingCharacterAreNotCached) {
  CTraceCapture capture(TRACE_INFO);
  EXPECT_FALSE(m_cache.WriteArtistUrl(L" Abba", L"/x"));
  EXPECT_EQ(Read(L"\u00D6zdemir"), L"<none>");
  EXPECT_EQ(capture.Count(L"GetCacheFileName():GetLeadingChar fails:  Abba", TRACE_INFO), 1);
  EXPECT_EQ(capture.Count(L"GetCacheFileName():GetLeadingChar fails: \u00D6zdemir", TRACE_INFO), 1);
  // The directories exist, but no file was made for either name.
  EXPECT_FALSE(FileExists(File("A.ARTISTCACHE")));
  EXPECT_FALSE(FileExists(File("O.ARTISTCACHE")));
}

TEST_F(LocalCacheTest, MissingCacheFolderIsAnErrorWithTheSystemText) {
  CTraceCapture capture(TRACE_ERROR);
  const std::wstring folder = m_root.WPath() + L"/missing";
  CLocalCache cache(CString(folder), L"Versewell", L"ID42");
  CString url;
  EXPECT_FALSE(cache.WriteArtistUrl(L"Abba", L"/x"));
  EXPECT_FALSE(cache.ReadArtistUrl(L"Abba", url, 1.0f));
  // The system's own text for code 3, whatever its wording (Wine says "Path
  // not found." where Windows says "The system cannot find the path
  // specified."); the contract is that the line carries that text.
  std::wstring text = platform::FormatSystemMessage(3);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  ASSERT_FALSE(text.empty());
  const std::wstring line = L"GetCacheFileName():Can not create directory: " + folder +
                            platform::PATH_SEPARATOR_STRING + L"Versewell" + platform::PATH_SEPARATOR_STRING +
                            L",  GetLastError():3, " + text;
  EXPECT_EQ(capture.Count(line + L"\r\n", TRACE_ERROR) + capture.Count(line, TRACE_ERROR), 2);
  EXPECT_FALSE(FileExists(ToUtf8(folder)));  // only the two levels below it are ever created
}

TEST_F(LocalCacheTest, DirectoryCreatedByAnotherProcessMeanwhileIsAccepted) {
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Abba", L"/x"));  // both levels exist now
  CRacingFileSystem racing;
  ScopedFileSystem scoped(racing);
  EXPECT_TRUE(m_cache.WriteArtistUrl(L"Abba", L"/y"));
  EXPECT_EQ(Read(L"Abba"), L"/y");
}

TEST_F(LocalCacheTest, FailedWriteIsLoggedAtDebugLevelAndReturnsFalse) {
  CTraceCapture capture(TRACE_DEBUG);
  CFailingWrites failing;
  platform::IPrivateProfile* previous = platform::SetPrivateProfileForTesting(&failing);
  const bool written = m_cache.WriteArtistUrl(L"Abba", L"/x");
  platform::SetPrivateProfileForTesting(previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(capture.Count(L"WriteArtistUrl to LocalCache fails for: Abba", TRACE_DEBUG), 1);
  EXPECT_EQ(Read(L"Abba"), L"<none>");
}

TEST_F(LocalCacheTest, AwkwardNamesAndAddressesRoundTripWithoutShadowing) {
  const std::vector<std::wstring> names = {
      L"Abba",
      L"A]\r\n[Abba]\r\nArtistUrl=/evil",
      L"A=b;c[d]",
      L"A\\u005B literal backslash",
      L"A \u0414\u0435\u043B\u044C\u0444\u0438\u043D",
      L"B\u5742\u672C\u9F8D\u4E00",
      L"M\U0001F600ji",
      L"Sigur R\u00F3s",
      L"Pink ",
      L"A\ttab",
  };
  for (size_t k = 0; k < names.size(); ++k)
    ASSERT_TRUE(m_cache.WriteArtistUrl(names[k].c_str(), (L"/url/" + std::to_wstring(k)).c_str())) << k;
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Z", L"/z\r\n[Abba]\r\nArtistUrl=/evil"));

  for (size_t k = 0; k < names.size(); ++k)
    EXPECT_EQ(Read(names[k].c_str(), 0.0f), CString(L"/url/" + std::to_wstring(k))) << k;
  EXPECT_EQ(Read(L"Z", 0.0f), L"/z\r\n[Abba]\r\nArtistUrl=/evil");

  std::list<std::wstring> sections;
  CString path;
  ASSERT_TRUE(m_cache.GetCacheFileName(L"A", path));
  m_cache.ReadSectionNames(path, sections);
  const std::list<std::wstring> expected = {names[0], names[1], names[2], names[3], names[4], names[9]};
  EXPECT_EQ(sections, expected);
  const std::string bytes = ReadFileBytes(ToUtf8(path.Str()));
  EXPECT_EQ(DecodeUtf16Le(bytes).find(L'?'), std::wstring::npos);
}

TEST_F(LocalCacheTest, FileWithMoreNamesThanTheFirstBufferHoldsIsReadWhole) {
  std::list<std::wstring> expected;
  for (int k = 0; k < 1500; ++k) {
    const std::wstring name = L"Artist number " + std::to_wstring(k);
    ASSERT_TRUE(m_cache.WriteArtistUrl(name.c_str(), L"/u"));
    expected.push_back(name);
  }
  CString path;
  ASSERT_TRUE(m_cache.GetCacheFileName(L"A", path));
  std::list<std::wstring> names;
  m_cache.ReadSectionNames(path, names);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(Read(L"Artist number 1499 ", 1.0f), L"/u");  // fuzzy over all of them
}

TEST_F(LocalCacheTest, MissingFileReadsAsEmpty) {
  std::list<std::wstring> names = {L"stale"};
  m_cache.ReadSectionNames(CString(Dir() + L"Q.ARTISTCACHE"), names);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(Read(L"Queen", 1000.0f), L"<none>");
}

TEST_F(LocalCacheTest, LongAddressIsReturnedWhole) {
  const std::wstring url = L"/wiki/" + std::wstring(1200, L'x');
  ASSERT_TRUE(m_cache.WriteArtistUrl(L"Long", url.c_str()));
  EXPECT_EQ(Read(L"Long"), CString(url));
  EXPECT_EQ(Read(L"long ", 1.0f), CString(url));
}

TEST_F(LocalCacheTest, ConcurrentThreadsLoseNothing) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 150; ++k) {
        const std::wstring name = L"T" + std::to_wstring(t) + L" artist " + std::to_wstring(k);
        if (!m_cache.WriteArtistUrl(name.c_str(), (L"/" + name).c_str())) ++failures;
        CString url;
        if (!m_cache.ReadArtistUrl(name.c_str(), url, 1.0f) || url != CString(L"/" + name)) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  CString path;
  ASSERT_TRUE(m_cache.GetCacheFileName(L"T", path));
  std::list<std::wstring> names;
  m_cache.ReadSectionNames(path, names);
  EXPECT_EQ(names.size(), 600u);
}

TEST(LocalCacheProperty, LocalCacheFolderMakesAWorkingCacheUnderNameAndId) {
  CTempDir root;
  CCacheProbe plugin;
  const CString folder(root.WPath());
  ASSERT_EQ(plugin.SetProperty(L"LocalCacheFolder", &folder), 1);
  ASSERT_NE(plugin.Cache(), nullptr);
  ASSERT_TRUE(plugin.Cache()->WriteArtistUrl(L"Abba", L"/wiki/ABBA"));
  CString name, id;
  ASSERT_EQ(plugin.GetProperty(L"SourceName", &name), 1);
  ASSERT_EQ(plugin.GetProperty(L"SourceId", &id), 1);
  EXPECT_TRUE(FileExists(root.Path() + "/" + ToUtf8(name.Str()) + "/" + ToUtf8(id.Str()) + "/A.ARTISTCACHE"));
}

// Queued pages written as batches leave each cache file as the same titles
// written one by one would, with the same log lines: a name without a
// cache file is reported when it is queued, failed writes at the flush, in
// queue order.
TEST_F(LocalCacheTest, QueuedTitlesGiveWhatOneByOneWritesGive) {
  CLocalCache single(CString(m_root.WPath()), L"Versewell", L"Single");
  const std::vector<std::wstring> titles = {
      L"Abba", L"Cher", L"A]\r\n[Abba]\r\nArtistUrl=/evil", L"ABBA", L"2 Unlimited", L"Bj\u00F6rk",
      L" Blank first", L"abba", L"Cher", L"A=b;c[d]", L"\u00D6zdemir", L"99 Luftballons"};
  CTraceCapture capture(TRACE_DEBUG);
  for (size_t k = 0; k < titles.size(); ++k) {
    const std::wstring url = L"/url/" + std::to_wstring(k);
    single.WriteArtistUrl(titles[k].c_str(), url.c_str());
    m_cache.QueueArtistUrl(titles[k].c_str(), url.c_str());
  }
  EXPECT_EQ(capture.Count(L"GetCacheFileName():GetLeadingChar fails:  Blank first", TRACE_INFO), 2);
  ASSERT_TRUE(m_cache.FlushArtistUrls());
  for (const char* name : {"A.ARTISTCACHE", "B.ARTISTCACHE", "C.ARTISTCACHE", "#.ARTISTCACHE"}) {
    SCOPED_TRACE(name);
    std::list<std::wstring> queued, oneByOne;
    m_cache.ReadSectionNames(CString(FromUtf8(File(name))), queued);
    single.ReadSectionNames(CString(m_root.WPath() + L"/Versewell/Single/" + FromUtf8(name)), oneByOne);
    EXPECT_FALSE(queued.empty());
    EXPECT_EQ(queued, oneByOne);
  }
  for (const std::wstring& title : titles) {
    CString a = L"<none>", b = L"<none>";
    m_cache.ReadArtistUrl(title.c_str(), a, 0.0f);
    single.ReadArtistUrl(title.c_str(), b, 0.0f);
    EXPECT_EQ(a, b) << ToUtf8(title);
  }
  CString url;
  ASSERT_TRUE(m_cache.ReadArtistUrl(L"Abba", url, 0.0f));
  EXPECT_EQ(url, L"/url/7");  // the last of three writes to one section
}

TEST_F(LocalCacheTest, FailedBatchLogsEveryTitleInQueueOrder) {
  CTraceCapture capture(TRACE_DEBUG);
  CFailingWrites failing;
  platform::IPrivateProfile* previous = platform::SetPrivateProfileForTesting(&failing);
  m_cache.QueueArtistUrl(L"Zappa", L"/z");
  m_cache.QueueArtistUrl(L" Bad", L"/bad");
  m_cache.QueueArtistUrl(L"Abba", L"/a");
  m_cache.QueueArtistUrl(L"Zappa", L"/z2");
  const bool flushed = m_cache.FlushArtistUrls();
  platform::SetPrivateProfileForTesting(previous);
  EXPECT_FALSE(flushed);
  const std::vector<std::wstring> expected = {
      L"GetCacheFileName():GetLeadingChar fails:  Bad", L"WriteArtistUrl to LocalCache fails for: Zappa",
      L"WriteArtistUrl to LocalCache fails for: Abba", L"WriteArtistUrl to LocalCache fails for: Zappa"};
  EXPECT_EQ(capture.Messages(), expected);
  EXPECT_EQ(Read(L"Abba"), L"<none>");
  EXPECT_TRUE(m_cache.FlushArtistUrls());  // nothing left queued
}

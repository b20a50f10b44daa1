// The download front end: the plug-in's Download with host proxy, ignore
// list and statistics; HttpDownload's trace lines and decoding; the random
// user agent; the host-name helpers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "http/DownloadFrontEnd.h"
#include "platform/Clock.h"
#include "platform/ErrorText.h"
#include "platform/HttpTransportTesting.h"
#include "plugin/Versewell.h"
#include "support/FakeClock.h"
#include "support/FakeHttpTransport.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TestHost.h"
#include "support/TraceCapture.h"
#include "support/WikiServer.h"
#include "text/CodePageConversion.h"

namespace {

const std::wstring SITE = L"lyrics.wiki.example";

class CDownloadProbe : public CVersewell {
 public:
  using CVersewell::Download;
  uint32_t Counter() {
    uint32_t v = 0;
    GetProperty(L"StatisticDownloadCounter", &v);
    return v;
  }
  uint32_t Successes() {
    uint32_t v = 0;
    GetProperty(L"StatisticSuccessfulDownloads", &v);
    return v;
  }
  uint32_t Time() {
    uint32_t v = 0;
    GetProperty(L"StatisticTotalDownloadTime", &v);
    return v;
  }
  void SetCodePage(int cp) { m_nCodePage = cp; }
};

// A clock whose tick count moves on by `step` at every reading.
class CSteppingClock : public CFakeClock {
 public:
  DWORD step = 7;
  DWORD GetTickCount() override {
    DWORD now = CFakeClock::GetTickCount();
    AdvanceTicks(step);
    return now;
  }
};

// Far below the transport's time-outs (30 s to receive), far above any stop
// latency: a download that returns sooner was ended by the stop.
constexpr auto STOPPED_WELL_BEFORE_ANY_TIME_OUT = std::chrono::seconds(5);

const std::wstring CANCELLED_TEXT =
    L"Error:The operation was canceled, usually because the handle on which the request was operating was closed "
    L"before the operation completed.";

class DownloadFrontEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const STestCertificates& certs = STestCertificates::Get();
    SWikiServerOptions options;
    options.tlsCert = certs.strServerCert;
    options.tlsKey = certs.strServerKey;
    s_server = new CWikiServer(options);
    platform::TrustExtraCaFileForTesting(FromUtf8(certs.strCaFile));
  }
  static void TearDownTestSuite() {
    platform::TrustExtraCaFileForTesting(L"");
    delete s_server;
    s_server = nullptr;
  }
  void SetUp() override {
    host.proxy = s_server->WProxy().c_str();
    host.ignore = &ignore;
    plugin.SetHostCallback(&host);
  }
  static CWikiServer* s_server;
  CTestHost host;
  CTestHostIgnore ignore;
  CDownloadProbe plugin;
};
CWikiServer* DownloadFrontEndTest::s_server = nullptr;

}  // namespace

// The system's text for `code` without its line break, as the failure line
// carries it: the words are the system's own (Wine's differ from Windows',
// "Success." for 0), the contract is that the line holds them.
std::wstring SystemText(DWORD code) {
  std::wstring text = platform::FormatSystemMessage(code);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

TEST_F(DownloadFrontEndTest, NotFoundWritesTheExactFailureLine) {
  CTraceCapture trace;
  host.proxy = L"";
  host.ignore = nullptr;
  CFakeHttpTransport fake;
  fake.response.statusLine = "HTTP/1.1 404 Not Found";
  ScopedHttpTransport scope(fake);
  CString page = L"stale";
  EXPECT_EQ(0, plugin.Download(SITE + L"/wiki/Nobody", page));
  EXPECT_TRUE(page.IsEmpty());
  EXPECT_EQ(1, trace.Count(L"Download: lyrics.wiki.example/wiki/Nobody", 40));
  EXPECT_EQ(1, trace.Count(L"Download fails: lyrics.wiki.example/wiki/Nobody, Proxy: , Response: Not Found, "
                           L"Error:" + SystemText(0),
                           20))
      << trace.Messages().back();
}

TEST_F(DownloadFrontEndTest, NotFoundThroughTheProxyNamesProxyAndStatus) {
  CTraceCapture trace;
  CString page;
  EXPECT_EQ(0, plugin.Download(SITE + L"/wiki/Nobody", page));
  const std::wstring expected = L"Download fails: lyrics.wiki.example/wiki/Nobody, Proxy: " + s_server->WProxy() +
                                L", Response: Not Found, Error:" + SystemText(0);
  EXPECT_EQ(1, trace.Count(expected, 20));
}

TEST_F(DownloadFrontEndTest, ReadFailureReportsTheTextOf122) {
  CTraceCapture trace;
  CString page;
  EXPECT_EQ(0, plugin.Download(SITE + L"/_test/body?size=8388609", page));
  EXPECT_TRUE(trace.Contains(L", Response: OK, Error:" + SystemText(122)));
}

TEST_F(DownloadFrontEndTest, SuccessDecodesUtf8AndStopsAtANulByte) {
  CString page;
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/utf8", page));
  EXPECT_EQ(CString(L"Gr\u00fc\u00df Gott \u20ac \U0001F3B5\n"), page);
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/nul", page));
  EXPECT_EQ(CString(L"before"), page);
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_TRUE(page.IsEmpty());
}

TEST_F(DownloadFrontEndTest, CodePageZeroDecodesWithTheThreadAnsiCodePage) {
  CString page;
  plugin.SetCodePage(0);
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/echo", page));
  EXPECT_EQ(0, page.Find(L"GET http://lyrics.wiki.example/_test/echo HTTP/1.1"));
}

TEST_F(DownloadFrontEndTest, StatisticsCountAttemptsSuccessesAndTickTime) {
  CSteppingClock clock;
  clock.SetTickCount(0xFFFFFFFCu);  // the tick count wraps during the first download
  ScopedFakeClock scope(clock);
  CString page;
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_EQ(1u, plugin.Counter());
  EXPECT_EQ(1u, plugin.Successes());
  EXPECT_EQ(7u, plugin.Time());

  EXPECT_EQ(0, plugin.Download(SITE + L"/_test/status/500", page));
  EXPECT_EQ(2u, plugin.Counter());
  EXPECT_EQ(1u, plugin.Successes());
  EXPECT_EQ(14u, plugin.Time());

  host.stop = true;
  EXPECT_EQ(0, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_EQ(2u, plugin.Counter());
  EXPECT_EQ(14u, plugin.Time());
}

TEST_F(DownloadFrontEndTest, WithoutHostNothingIsFetchedCountedOrTraced) {
  CTraceCapture trace;
  CDownloadProbe lone;
  CString page = L"x";
  EXPECT_EQ(0, lone.Download(SITE + L"/_test/empty", page));
  EXPECT_TRUE(page.IsEmpty());
  EXPECT_EQ(0u, lone.Counter());
  EXPECT_TRUE(trace.Messages().empty());
}

TEST_F(DownloadFrontEndTest, IgnoreListGetsTheHostBeforeAndAfter) {
  CString page;
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_EQ((std::vector<std::wstring>{L"add:lyrics.wiki.example:1", L"remove:lyrics.wiki.example"}), ignore.calls);

  ignore.calls.clear();
  EXPECT_EQ(0, plugin.Download(L"http://user@lyrics.wiki.example:8080/_test/status/404", page));
  EXPECT_EQ((std::vector<std::wstring>{L"add:lyrics.wiki.example:1", L"remove:lyrics.wiki.example"}), ignore.calls);
}

TEST_F(DownloadFrontEndTest, StopRequestAfterTheStartEndsTheDownloadAndSuppressesTheIgnoreCalls) {
  CTraceCapture trace;
  CString page;
  host.stopAfterQueries = 1;  // the first stop query answers no, every later one yes
  EXPECT_EQ(0, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_TRUE(ignore.calls.empty());
  host.stopQueries = 0;
  host.stopAfterQueries = 2;  // the add happens, the remove does not
  EXPECT_EQ(0, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_EQ(std::vector<std::wstring>{L"add:lyrics.wiki.example:1"}, ignore.calls);
  // Stopped downloads are failed attempts: counted, not successful, traced.
  EXPECT_EQ(2u, plugin.Counter());
  EXPECT_EQ(0u, plugin.Successes());
  EXPECT_EQ(2, trace.Count(L"Download fails: lyrics.wiki.example/_test/empty, Proxy: " + s_server->WProxy() +
                               L", Response: , " + CANCELLED_TEXT,
                           20));
  EXPECT_EQ(2, trace.Count(L"CHttpDownloaderBase::SendRequest - error=[12017]", 20));
}

TEST_F(DownloadFrontEndTest, SearchesEndSoonAfterAStopWhileTheServerHangsOrTrickles) {
  // The status text is there once the download got past the response head.
  const std::pair<std::wstring, std::wstring> cases[] = {{L"/_test/hang?ms=60000", L""},
                                                         {L"/_test/head-then-hang?ms=60000", L""},
                                                         {L"/_test/trickle?size=100000", L"OK"}};
  for (const auto& c : cases) {
    const std::wstring& path = c.first;
    CTraceCapture trace;
    CTestHost stopping;
    stopping.proxy = host.proxy;
    plugin.SetHostCallback(&stopping);
    const uint32_t attempts = plugin.Counter();
    stopping.StopAfter(std::chrono::milliseconds(200));
    const auto started = std::chrono::steady_clock::now();
    CString lyrics = L"stale";
    EXPECT_EQ(0, plugin.GetLyrics(SITE + path, lyrics)) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - started, STOPPED_WELL_BEFORE_ANY_TIME_OUT) << path;
    EXPECT_TRUE(lyrics.IsEmpty());
    EXPECT_EQ(attempts + 1, plugin.Counter()) << path;
    EXPECT_EQ(1, trace.Count(L"Download fails: " + SITE + path + L", Proxy: " + s_server->WProxy() + L", Response: " +
                                 c.second + L", " + CANCELLED_TEXT,
                             20))
        << path << L" " << (trace.Messages().empty() ? L"" : trace.Messages().back());
    // The host was asked on the thread that called the search, and only there.
    std::vector<std::thread::id> askers = stopping.StopAskers();
    EXPECT_GE(askers.size(), 3u);
    for (const std::thread::id& id : askers) EXPECT_EQ(std::this_thread::get_id(), id);
  }
  plugin.SetHostCallback(&host);
}

TEST_F(DownloadFrontEndTest, UnparsableProxyFailsWithAClearLineAndNeverGoesDirect) {
  // The address names the wiki itself: a download that went around the
  // proxy would reach it.
  const std::wstring direct = L"127.0.0.1:" + std::to_wstring(s_server->Port()) + L"/_test/empty";
  const size_t requestsBefore = s_server->Requests().size();
  for (const wchar_t* proxy : {L"127.0.0.1:notaport", L":80", L"[]:80", L"127.0.0.1:99999"}) {
    CTraceCapture trace;
    host.proxy = proxy;
    CString page;
    EXPECT_EQ(0, plugin.Download(direct, page)) << proxy;
    EXPECT_EQ(1, trace.Count(L"CHttpDownloaderBase - WinHttpOpen error=[87], Proxy: \"" + std::wstring(proxy) + L"\"",
                             20))
        << proxy;
    EXPECT_TRUE(trace.Contains(L"Download fails: " + direct + L", Proxy: " + proxy)) << proxy;
  }
  EXPECT_EQ(requestsBefore, s_server->Requests().size());
}

TEST_F(DownloadFrontEndTest, FailedHopsOfARedirectAreNamedInTheFailureLine) {
  // The redirect itself is no response of its own: the line names the code
  // of the hop that failed, not the redirect's status.
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"https%3A%2F%2Fwrong-host.example%2F_test%2Fempty", L"A security error occurred"},
      {L"https%3A%2F%2F" + SITE + L"%2F_test%2Fredirect-to%3Furl%3Dhttp%253A%252F%252F" + SITE + L"%252F",
       L"The HTTP redirect request failed."},
  };
  for (const auto& c : cases) {
    CTraceCapture trace;
    CString page;
    const std::wstring url = SITE + L"/_test/redirect-to?url=" + c.first;
    EXPECT_EQ(0, plugin.Download(url, page));
    EXPECT_EQ(1, trace.Count(L"Download fails: " + url + L", Proxy: " + s_server->WProxy() +
                                 L", Response: , Error:" + c.second,
                             20))
        << (trace.Messages().empty() ? L"" : trace.Messages().back());
  }
}

TEST_F(DownloadFrontEndTest, RedirectToHttpsIsFollowedThroughTheProxyTunnel) {
  CString page;
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/redirect-to?url=https%3A%2F%2F" + SITE + L"%2F_test%2Futf8", page));
  EXPECT_EQ(CString(L"Gr\u00fc\u00df Gott \u20ac \U0001F3B5\n"), page);
  std::vector<std::string> requests = s_server->Requests();
  EXPECT_NE(requests.end(), std::find(requests.begin(), requests.end(), "CONNECT lyrics.wiki.example:443"));
  EXPECT_NE(requests.end(), std::find(requests.begin(), requests.end(), "GET /_test/utf8 (tls)"));
}

TEST_F(DownloadFrontEndTest, BlankOrMissingProxyMeansTheSystemSetting) {
  CFakeHttpTransport fake;
  ScopedHttpTransport scope(fake);
  CString page;
  host.proxy = L"   ";
  plugin.Download(SITE + L"/x", page);
  EXPECT_EQ(platform::WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, fake.accessType);
  host.proxy = L"";
  plugin.Download(SITE + L"/x", page);
  EXPECT_EQ(platform::WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, fake.accessType);
  host.proxy = L"127.0.0.1:9";
  plugin.Download(SITE + L"/x", page);
  EXPECT_EQ(platform::WINHTTP_ACCESS_TYPE_NAMED_PROXY, fake.accessType);
  EXPECT_EQ(L"127.0.0.1:9", fake.proxy);
}

TEST_F(DownloadFrontEndTest, EveryDownloadSendsAFreshlyDrawnAgent) {
  std::set<std::string> agents;
  for (int i = 0; i < 8; ++i) {
    CString page;
    ASSERT_EQ(1, plugin.Download(SITE + L"/_test/echo", page));
    std::wstring wire = page.GetString();
    size_t at = wire.find(L"\r\nUser-Agent: ");
    ASSERT_NE(std::wstring::npos, at);
    std::wstring agent = wire.substr(at + 14, wire.find(L"\r\n", at + 2) - at - 14);
    EXPECT_EQ(0u, agent.find(L"Mozilla/4.0 (compatible; MSIE "));
    agents.insert(std::string(agent.begin(), agent.end()));
  }
  EXPECT_GE(agents.size(), 2u);
}

TEST(RandomUserAgent, DrawsFollowTheGrammarAndCoverEveryPiece) {
  const std::wregex grammar(
      L"Mozilla/4\\.0 \\(compatible; MSIE ([678])\\.0; Windows NT (5\\.1|6\\.0|6\\.1)(; en-US)?"
      L"(; Trident/4\\.0)?(; SV1)?(; YPC 3\\.[0-2]\\.[0-9])?(; GTB[0-5]\\.[0-9])?"
      L"(; \\.NET CLR 1\\.0\\.\\d+)?(; \\.NET CLR 1\\.1\\.\\d+)?(; \\.NET CLR 2\\.0\\.\\d+)?"
      L"(; \\.NET CLR 3\\.0\\.\\d+\\.\\d+)?(; \\.NET CLR 3\\.5\\.\\d+\\.\\d+)?(; yie8)?"
      L"(; yplus 5\\.[0-2]\\.([0-9]|[12][0-9]))?\\)");
  std::map<int, int> groupSeen;
  std::set<std::wstring> distinct;
  const int draws = 3000;
  for (int i = 0; i < draws; ++i) {
    std::wstring agent = MakeRandomUserAgent().GetString();
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(agent, m, grammar)) << std::string(agent.begin(), agent.end());
    for (size_t g = 1; g < m.size(); ++g)
      if (m[g].matched) groupSeen[static_cast<int>(g) * 100 + (g <= 2 ? static_cast<int>(m[g].str()[0]) : 0)]++;
    distinct.insert(agent);
    for (const wchar_t* number : {L".NET CLR 1.0.", L".NET CLR 2.0.", L".NET CLR 3.5."}) {
      size_t at = agent.find(number);
      if (at != std::wstring::npos) {
        EXPECT_LE(std::stol(agent.substr(at + wcslen(number))), 32767);
      }
    }
  }
  EXPECT_GT(distinct.size(), static_cast<size_t>(draws / 2));
  for (wchar_t b : {L'6', L'7', L'8'}) EXPECT_GT(groupSeen[100 + b], draws / 6) << static_cast<char>(b);
  for (wchar_t s : {L'5', L'6'}) EXPECT_GT(groupSeen[200 + s], draws / 6);
  EXPECT_GT(groupSeen[300], draws / 3);
  EXPECT_LT(groupSeen[300], draws * 2 / 3);
  for (int g = 4; g <= 14; ++g) EXPECT_GT(groupSeen[g * 100], 0) << "optional token group " << g;
  // Later tokens are possible from more start indexes, so they appear more often.
  EXPECT_GT(groupSeen[1400], groupSeen[400]);
}

TEST(RandomNumber, ReseedsFromTheCounterAtEveryCallAndRandContinuesTheSequence) {
  class CConstantCounter : public CFakeClock {
   public:
    uint64_t QueryPerformanceCounter() override { return 0x1234567800000042ull; }
  } clock;
  ScopedFakeClock scope(clock);
  SeedRandom(0x42);
  const int first = DrawRandom();
  const int second = DrawRandom();
  EXPECT_EQ(first, RandomNumber(0));
  EXPECT_EQ(second, DrawRandom());
  EXPECT_EQ(first, RandomNumber(0));
  EXPECT_EQ(first % 7, RandomNumber(7));
  EXPECT_EQ(first, RandomNumber(-3));
  for (int i = 0; i < 1000; ++i) {
    int v = DrawRandom();
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 32767);
  }
}

TEST(UrlHelpers, AddSchemeOnlyWhereThereIsNone) {
  EXPECT_EQ(CString(L"http://lyrics.wiki.example/x"), UrlAddScheme(L"lyrics.wiki.example/x", L"http"));
  EXPECT_EQ(CString(L"https://h/x"), UrlAddScheme(L"https://h/x", L"http"));
  EXPECT_EQ(CString(L"http://"), UrlAddScheme(L"", L"http"));
}

TEST(UrlHelpers, GetHostParsesTheAuthorityAndDecodesEscapes) {
  EXPECT_EQ(CString(L"lyrics.wiki.example"), UrlGetHost(L"http://lyrics.wiki.example/index.php?title=A&from=B"));
  EXPECT_EQ(CString(L"host.example"), UrlGetHost(L"http://user:pw@host.example:8080/p"));
  EXPECT_EQ(CString(L"host.example"), UrlGetHost(L"http://host.example?q#f"));
  EXPECT_EQ(CString(L"b\u00fccher.example"), UrlGetHost(L"http://b%C3%BCcher.example/"));
  EXPECT_EQ(CString(L"a b"), UrlGetHost(L"http://a%20b/"));
  EXPECT_EQ(CString(L"[::1]"), UrlGetHost(L"http://[::1]:80/"));
  EXPECT_EQ(CString(L""), UrlGetHost(L"http:///path"));
  EXPECT_EQ(CString(L""), UrlGetHost(L""));
}

TEST(UrlHelpers, GetHostFailureIsTracedAndGivesAnEmptyName) {
  CTraceCapture trace;
  EXPECT_EQ(CString(L""), UrlGetHost(L"lyrics.wiki.example/x://y"));
  EXPECT_EQ(CString(L""), UrlGetHost(L"http://[::1/"));
  std::vector<std::wstring> messages;
  for (const std::wstring& m : trace.Messages())
    if (!m.empty()) messages.push_back(m);  // the system text carries its own line end
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(0u, messages[0].find(L"UrlGetHost: InternetCrackUrl  GetLastError():12006, "));
  EXPECT_EQ(0u, messages[1].find(L"UrlGetHost: InternetCrackUrl  GetLastError():12005, "));
}

namespace {

// A host that writes its ignore object but answers "HostIgnore" with 0.
class CZeroAnswerHost : public CTestHost {
 public:
  BOOL GetHostValue(const CString& name, void* value) override {
    if (name == L"HostIgnore") {
      *static_cast<CHostIgnore**>(value) = ignore;
      return 0;
    }
    return CTestHost::GetHostValue(name, value);
  }
};

}  // namespace

TEST_F(DownloadFrontEndTest, IgnoreObjectWrittenWithAZeroAnswerIsNotUsed) {
  CTraceCapture trace;
  CZeroAnswerHost zeroHost;
  zeroHost.proxy = s_server->WProxy().c_str();
  zeroHost.ignore = &ignore;
  plugin.SetHostCallback(&zeroHost);
  CString page;
  ASSERT_EQ(1, plugin.Download(SITE + L"/_test/empty", page));
  EXPECT_TRUE(ignore.calls.empty());
  // The download itself is untouched: counted, traced once, no host-name line.
  EXPECT_EQ(trace.Messages(), std::vector<std::wstring>{L"Download: lyrics.wiki.example/_test/empty"});
  EXPECT_EQ(1u, plugin.Counter());
  EXPECT_EQ(1u, plugin.Successes());
}

TEST_F(DownloadFrontEndTest, HostNameFailureInsideDownloadIsTracedAndTheIgnoreListGetsAnEmptyName) {
  CTraceCapture trace;
  CFakeHttpTransport fake;
  fake.response.chunks = {"page"};
  ScopedHttpTransport scope(fake);
  CString page;
  // The url carries "://" after its first slash, so no scheme is put in
  // front of it and the host-name split fails.
  const int result = plugin.Download(SITE + L"/x://y", page);
  EXPECT_EQ((std::vector<std::wstring>{L"add::1", L"remove:"}), ignore.calls);
  std::vector<std::wstring> messages;
  for (const std::wstring& m : trace.Messages())
    if (!m.empty()) messages.push_back(m);  // the system text carries its own line end
  ASSERT_EQ(3u, messages.size());
  EXPECT_EQ(0u, messages[0].find(L"UrlGetHost: InternetCrackUrl  GetLastError():12006, "));
  EXPECT_EQ(messages[1], L"Download: lyrics.wiki.example/x://y");
  EXPECT_EQ(0u, messages[2].find(L"UrlGetHost: InternetCrackUrl  GetLastError():12006, "));
  EXPECT_EQ(1, trace.Count(L"Download: lyrics.wiki.example/x://y", 40));
  // The failed split touches only the ignore list: the download runs.
  EXPECT_EQ(1, result);
  EXPECT_EQ(page, L"page");
  EXPECT_EQ(1u, plugin.Counter());
}

// The body as the page's text: decoded chunk by chunk as it arrives (UTF-8)
// or collected and decoded whole (other code pages), it must equal the whole
// body decoded at once, wherever the transport's chunks end: here cut at
// every pair of positions through multi-byte sequences, a sequence cut
// short, invalid bytes, a byte-order mark and a NUL byte.
TEST_F(DownloadFrontEndTest, BodiesInAnyChunksDecodeAsTheWholeBodyDoes) {
  host.proxy = L"";
  host.ignore = nullptr;
  const std::string body("\xEF\xBB\xBF" "Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x8E\xB5 \xE2\x82 \xFF\x80 z\0tail", 28);
  for (int cp : {65001, 1252}) {
    plugin.SetCodePage(cp);
    const CString expected(ConvertBytesToWide(body, static_cast<UINT>(cp)));
    ASSERT_FALSE(expected.IsEmpty());
    for (size_t i = 0; i <= body.size(); ++i) {
      for (size_t j = i; j <= body.size(); ++j) {
        CFakeHttpTransport fake;
        for (const std::string& chunk : {body.substr(0, i), body.substr(i, j - i), body.substr(j)})
          if (!chunk.empty()) fake.response.chunks.push_back(chunk);  // an empty one would end the body
        ScopedHttpTransport scope(fake);
        CString page;
        ASSERT_EQ(1, plugin.Download(SITE + L"/wiki/Chunked", page));
        ASSERT_EQ(expected, page) << "code page " << cp << ", cuts at " << i << " and " << j;
      }
    }
  }
}

// The same through the real transport: a body of a few hundred kilobytes
// of one- to four-byte characters arrives in the transport's own chunks,
// which cut sequences wherever they fall.
TEST_F(DownloadFrontEndTest, LargeBodiesThroughTheTransportDecodeAsTheWholeBodyDoes) {
  CTempDir dir;
  std::filesystem::create_directories(dir.File("static"));
  std::string body;
  const char* const pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "\n", "\xFF", "\xE2\x82"};
  for (unsigned i = 0; body.size() < 300000; ++i) body += pieces[(i * 7 + i / 5) % 7];
  WriteFileBytes(dir.File("static/mixed.html"), body);
  CWikiServer server(dir.Path());
  host.proxy = server.WProxy().c_str();
  for (int cp : {65001, 1252}) {
    plugin.SetCodePage(cp);
    CString page;
    ASSERT_EQ(1, plugin.Download(SITE + L"/static/mixed.html", page));
    EXPECT_TRUE(CString(ConvertBytesToWide(body, static_cast<UINT>(cp))) == page) << "code page " << cp;
  }
}

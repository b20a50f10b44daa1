// CHttpDownloaderBase: URL splitting, header stores, the cookie rule, the
// read loop and the failure table, against the loopback wiki (the real proxy
// path) and a scripted transport for what no server produces on demand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpDownloader.h"
#include "platform/ErrorText.h"
#include "support/FakeHttpTransport.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"
#include "support/WikiServer.h"

using namespace platform;

namespace {

const std::string SITE = "lyrics.wiki.example";

class HttpDownloaderWikiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new CWikiServer(); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  static std::string Proxy() { return s_server->Proxy(); }
  static CWikiServer* s_server;
};
CWikiServer* HttpDownloaderWikiTest::s_server = nullptr;

std::string RequestLine(const std::string& wire) { return wire.substr(0, wire.find("\r\n")); }

class CRecordingSink : public CDownloadProgressSink {
 public:
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  void OnProgress(uint32_t received, uint32_t length) override { calls.emplace_back(received, length); }
};

}  // namespace

TEST(SplitUrl, SchemeHostPortAndPathFollowTheRules) {
  struct Case {
    const wchar_t* url;
    const wchar_t* host;
    const wchar_t* path;
    uint16_t port;
  } cases[] = {
      {L"http://lyrics.wiki.example/index.php?title=A", L"lyrics.wiki.example", L"index.php?title=A", 80},
      {L"lyrics.wiki.example:8080/x", L"lyrics.wiki.example", L"x", 8080},
      {L"https://secure.example/page", L"secure.example", L"page", 80},
      {L"h:65536/x", L"h", L"x", 80},
      {L"h:-1/x", L"h", L"x", 80},
      {L"h:abc/x", L"h", L"x", 0},
      {L"h: +81z/x", L"h", L"x", 81},
      {L"h:65535", L"h", L"", 65535},
      {L"lyrics.wiki.example", L"lyrics.wiki.example", L"", 80},
      {L"http:///path", L"", L"path", 80},
      {L"  spaced.example : 8081 /  a b  ", L"spaced.example", L"a b", 8081},
      {L"a://b://c/d", L"b", L"/c/d", 0},
  };
  for (const Case& c : cases) {
    std::wstring host, path;
    uint16_t port = 1;
    SplitUrl(c.url, host, path, port);
    EXPECT_EQ(c.host, host) << c.url;
    EXPECT_EQ(c.path, path) << c.url;
    EXPECT_EQ(c.port, port) << c.url;
  }
}

TEST_F(HttpDownloaderWikiTest, FetchSendsGetOfThePathThroughTheProxy) {
  CHttpDownloaderBase d(Proxy(), L"");
  d.m_strReferrer = "http://ref.example/";
  d.SetHeader("User-Agent", "Agent/1");
  ASSERT_TRUE(d.Fetch(SITE + "/_test/echo?title=Category:Artists_Q&from=Quill"));
  EXPECT_EQ(200u, d.m_nStatusCode);
  EXPECT_EQ(L"OK", d.m_strStatusText);
  EXPECT_EQ("GET http://lyrics.wiki.example/_test/echo?title=Category:Artists_Q&from=Quill HTTP/1.1",
            RequestLine(d.m_strBody));
  EXPECT_NE(std::string::npos, d.m_strBody.find("\r\nReferer: http://ref.example/\r\n"));
  EXPECT_NE(std::string::npos, d.m_strBody.find("\r\nUser-Agent: Agent/1\r\n"));
  EXPECT_EQ(d.m_strBody.size(), d.m_nContentLength);
  EXPECT_EQ(d.m_strBody.size(), d.m_nBytesReceived);
  EXPECT_EQ(nullptr, d.m_hRequest);
  EXPECT_EQ(nullptr, d.m_hConnect);
}

TEST_F(HttpDownloaderWikiTest, SecureSchemeAndBareHostAreFetchedAsPlainHttp) {
  CHttpDownloaderBase secure(Proxy(), L"");
  ASSERT_TRUE(secure.Fetch("https://" + SITE + "/_test/echo"));
  EXPECT_EQ("GET http://lyrics.wiki.example/_test/echo HTTP/1.1", RequestLine(secure.m_strBody));

  CHttpDownloaderBase root(Proxy(), L"");
  ASSERT_TRUE(root.Fetch("http://" + SITE));  // nothing after the host: the root, "/"
  EXPECT_NE(std::string::npos, root.m_strBody.find("Welcome to the lyrics wiki."));
  CHttpDownloaderBase port(Proxy(), L"");
  ASSERT_TRUE(port.Fetch(" " + SITE + " : 8080 / _test/echo "));
  EXPECT_EQ("GET http://lyrics.wiki.example:8080/_test/echo HTTP/1.1", RequestLine(port.m_strBody));
}

TEST_F(HttpDownloaderWikiTest, HeaderStoreIsOrderedAndEmptiedAfterUseAndTheCookieIsOneLine) {
  CHttpDownloaderBase d(Proxy(), L"");
  d.SetHeader("X-b", "1");
  d.SetHeader("X-a", "first");
  d.SetHeader("X-a", "second");
  d.SetHeader("  CoOkIe ", "k=v; other=w");
  d.SetHeader("Cookie", "k=v; final=1");
  ASSERT_TRUE(d.Fetch(SITE + "/_test/echo"));
  const std::string& wire = d.m_strBody;
  size_t cookie = wire.find("Cookie:");
  ASSERT_NE(std::string::npos, cookie);
  EXPECT_EQ(std::string::npos, wire.find("Cookie:", cookie + 1));
  EXPECT_NE(std::string::npos, wire.find("\r\nCookie: k=v; final=1\r\n"));
  size_t a = wire.find("\r\nX-a: second\r\n");
  size_t b = wire.find("\r\nX-b: 1\r\n");
  ASSERT_NE(std::string::npos, a);
  ASSERT_NE(std::string::npos, b);
  EXPECT_LT(a, b);
  EXPECT_EQ(std::string::npos, wire.find("first"));
  EXPECT_TRUE(d.m_requestHeaders.empty());

  // A second fetch keeps cookie and referrer but no longer sends the headers.
  ASSERT_TRUE(d.Fetch(SITE + "/_test/echo"));
  EXPECT_EQ(std::string::npos, d.m_strBody.find("X-a"));
  EXPECT_NE(std::string::npos, d.m_strBody.find("\r\nCookie: k=v; final=1\r\n"));
}

TEST_F(HttpDownloaderWikiTest, ResponseHeaderStoreKeepsEveryValueAndOddLines) {
  CHttpDownloaderBase d(Proxy(), L"");
  ASSERT_TRUE(d.Fetch(SITE + "/_test/cookies?n=3"));
  ASSERT_EQ(1u, d.m_responseHeaders.count("Set-Cookie"));
  std::list<std::string> expected = {"c1=v1; Path=/", "c2=v2; Path=/", "c3=v3; Path=/"};
  EXPECT_EQ(expected, d.m_responseHeaders["Set-Cookie"]);
  EXPECT_TRUE(d.m_strCookie.empty());

  ASSERT_TRUE(d.Fetch(SITE + "/_test/headers"));
  EXPECT_EQ(0u, d.m_responseHeaders.count("Set-Cookie"));  // emptied by the new parse
  EXPECT_EQ(std::list<std::string>{""}, d.m_responseHeaders["X-Empty"]);
  EXPECT_EQ(std::list<std::string>{"upper"}, d.m_responseHeaders["X-Case"]);
  EXPECT_EQ(std::list<std::string>{"lower"}, d.m_responseHeaders["x-case"]);
  EXPECT_EQ((std::list<std::string>{"one", "two"}), d.m_responseHeaders["X-Multi"]);
  EXPECT_EQ(std::list<std::string>{"padded value"}, d.m_responseHeaders["X-Padded"]);
  for (const auto& entry : d.m_responseHeaders) EXPECT_FALSE(entry.first.empty());
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, d.m_nLastError);
}

TEST_F(HttpDownloaderWikiTest, NotFoundFailsWithStatusTextAndLastErrorUntouched) {
  CTraceCapture trace;
  CHttpDownloaderBase d(Proxy(), L"");
  d.m_nLastError = 4242;
  EXPECT_FALSE(d.Fetch(SITE + "/wiki/Nobody"));
  EXPECT_EQ(404u, d.m_nStatusCode);
  EXPECT_EQ(L"Not Found", d.m_strStatusText);
  EXPECT_EQ(4242u, d.m_nLastError);
  EXPECT_TRUE(d.m_strBody.empty());
  EXPECT_TRUE(trace.Messages().empty());
}

TEST_F(HttpDownloaderWikiTest, EmptyHostFailsSilentlyAndKeepsLastError) {
  CTraceCapture trace;
  CHttpDownloaderBase d(Proxy(), L"");
  d.m_nLastError = 77;
  EXPECT_FALSE(d.Fetch("http:///wiki/Page"));
  EXPECT_EQ(77u, d.m_nLastError);
  EXPECT_TRUE(trace.Messages().empty());
}

TEST_F(HttpDownloaderWikiTest, BodiesAreConcatenatedAcrossChunksAndEmptyBodiesSucceed) {
  CRecordingSink sink;
  CHttpDownloaderBase d(Proxy(), L"");
  d.m_pProgressSink = &sink;
  ASSERT_TRUE(d.Fetch(SITE + "/_test/body?size=5000&mode=chunked&chunk=1000&delay_ms=20"));
  EXPECT_EQ(5000u, d.m_strBody.size());
  EXPECT_EQ(0u, d.m_nContentLength);
  bool pattern = true;
  for (size_t i = 0; i < d.m_strBody.size(); ++i) pattern = pattern && d.m_strBody[i] == 'a' + static_cast<int>(i % 26);
  EXPECT_TRUE(pattern);
  ASSERT_FALSE(sink.calls.empty());  // how many reads it takes is the scheduler's business
  EXPECT_EQ(5000u, sink.calls.back().first);
  for (size_t i = 1; i < sink.calls.size(); ++i) EXPECT_GT(sink.calls[i].first, sink.calls[i - 1].first);

  ASSERT_TRUE(d.Fetch(SITE + "/_test/empty"));
  EXPECT_EQ("", d.m_strBody);
}

TEST_F(HttpDownloaderWikiTest, OversizedBodyFailsWithATraceLineAndIsNotKept) {
  CTraceCapture trace;
  const std::wstring line = L"HttpDownloader::DownloadData body larger than 8388608 bytes refused";
  for (const char* mode : {"length", "chunked", "close"}) {
    CHttpDownloaderBase d(Proxy(), L"");
    d.m_strBody = "earlier";
    EXPECT_FALSE(d.Fetch(SITE + "/_test/body?size=8388609&mode=" + mode)) << mode;
    EXPECT_EQ("earlier", d.m_strBody) << mode;
  }
  EXPECT_EQ(3, trace.Count(line, 20));

  // Exactly the limit is still a body, announced or not.
  for (const char* mode : {"length", "chunked"}) {
    CHttpDownloaderBase exact(Proxy(), L"");
    ASSERT_TRUE(exact.Fetch(SITE + "/_test/body?size=8388608&mode=" + mode)) << mode;
    EXPECT_EQ(8388608u, exact.m_strBody.size()) << mode;
  }
}

TEST_F(HttpDownloaderWikiTest, DroppedConnectionFailsTheReadLoopWithItsCode) {
  CTraceCapture trace;
  CHttpDownloaderBase d(Proxy(), L"");
  EXPECT_FALSE(d.Fetch(SITE + "/_test/drop?size=100000&sent=50000"));
  EXPECT_EQ(12030u, d.m_nLastError);
  EXPECT_TRUE(d.m_strBody.empty());
  EXPECT_EQ(1, trace.Count(L"HttpDownloader::DownloadData WinHttpQueryDataAvailable error=[12030]", 20));
}

TEST_F(HttpDownloaderWikiTest, OutputFileReceivesTheBodyToo) {
  CTempDir dir;
  std::wstring path = dir.WPath() + L"/page.bin";
  CHttpDownloaderBase d(Proxy(), path);
  ASSERT_TRUE(d.Fetch(SITE + "/_test/body?size=3000&chunk=700&mode=chunked"));
  EXPECT_EQ(d.m_strBody, ReadFileBytes(dir.File("page.bin")));

  CHttpDownloaderBase big(Proxy(), path);
  EXPECT_FALSE(big.Fetch(SITE + "/_test/body?size=8388609&mode=chunked"));
  EXPECT_FALSE(FileExists(dir.File("page.bin")));  // nothing half-stored

  CHttpDownloaderBase bad(Proxy(), dir.WPath() + L"/missing/dir/page.bin");
  EXPECT_FALSE(bad.Fetch(SITE + "/_test/empty"));
}

TEST_F(HttpDownloaderWikiTest, InjectedLineBreaksAreRefusedBeforeTheWire) {
  CTraceCapture trace;
  CHttpDownloaderBase url(Proxy(), L"");
  EXPECT_FALSE(url.Fetch(SITE + "/_test/echo\r\nX-Injected: 1"));
  EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, url.m_nLastError);
  EXPECT_FALSE(url.Fetch(SITE + std::string("/_test/echo\0x", 13)));

  CHttpDownloaderBase header(Proxy(), L"");
  header.SetHeader("User-Agent", "A\r\nX-Injected: 1");
  EXPECT_FALSE(header.Fetch(SITE + "/_test/echo"));
  EXPECT_EQ(0u, header.m_nStatusCode);

  CHttpDownloaderBase cookie(Proxy(), L"");
  cookie.SetHeader("Cookie", "a=1\nX-Injected: 1");
  EXPECT_FALSE(cookie.Fetch(SITE + "/_test/echo"));
  EXPECT_EQ(2, trace.Count(L"CHttpDownloaderBase::PrepareRequest - CR, LF or NUL in a header refused", 20));
  EXPECT_EQ(2, trace.Count(L"CHttpDownloaderBase::OpenRequest - CR, LF or NUL in the URL or referrer refused", 20));
}

// --- the scripted transport ---------------------------------------------------

class HttpDownloaderFakeTest : public ::testing::Test {
 protected:
  HttpDownloaderFakeTest() : m_scope(fake) {}
  CFakeHttpTransport fake;
  CTraceCapture trace;

 private:
  ScopedHttpTransport m_scope;
};

TEST_F(HttpDownloaderFakeTest, SessionProxyConnectAndRequestArgumentsFollowTheRules) {
  {
    CHttpDownloaderBase d("  proxy.example:3128 ", L"");
    EXPECT_EQ(WINHTTP_ACCESS_TYPE_NAMED_PROXY, fake.accessType);
    EXPECT_EQ(L"proxy.example:3128", fake.proxy);
    EXPECT_EQ(std::wstring(g_szDefaultUserAgent), fake.agent);
    ASSERT_TRUE(d.Fetch("http://host.example:81/index.php?title=A"));
    EXPECT_EQ(L"host.example", fake.host);
    EXPECT_EQ(81, fake.port);
    EXPECT_EQ(L"GET", fake.verb);
    EXPECT_EQ(L"index.php?title=A", fake.objectName);
    EXPECT_EQ(L"(none)", fake.referrer);
    EXPECT_EQ(WINHTTP_FLAG_REFRESH, fake.requestFlags);
    EXPECT_EQ(0, fake.timeoutsSet);
    EXPECT_EQ(0u, fake.disabledFeatures);
  }
  EXPECT_TRUE(fake.openHandles.empty());
  CHttpDownloaderBase blanks(" \t ", L"");
  EXPECT_EQ(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, blanks.m_hSession != nullptr ? fake.accessType : 99u);
  EXPECT_EQ(L"(none)", fake.proxy);
}

TEST_F(HttpDownloaderFakeTest, TimeoutCookieAndHeaderLinesUseTheAddOrReplaceFlags) {
  CHttpDownloaderBase d("", L"");
  d.m_nTimeout = 5000;
  d.m_strReferrer = "  http://ref/  ";
  d.SetHeader("Cookie", "c=1");
  d.SetHeader("b", "2");
  d.SetHeader("A", "1");
  d.SetHeader("a", "3");
  ASSERT_TRUE(d.Fetch("h/x"));
  EXPECT_EQ(1, fake.timeoutsSet);
  EXPECT_EQ(5000, fake.connectTimeout);
  EXPECT_EQ(L"http://ref/", fake.referrer);
  // Names that differ only in case are two lines, capital letters first.
  EXPECT_EQ((std::vector<std::wstring>{L"Cookie: c=1", L"A: 1", L"a: 3", L"b: 2"}), fake.headerLines);
  for (DWORD m : fake.headerModifiers) EXPECT_EQ(0xA0000000u, m);
}

TEST_F(HttpDownloaderFakeTest, LineBreaksAroundUrlAndReferrerAreTrimmedNotRefused) {
  CHttpDownloaderBase d("", L"");
  d.m_strReferrer = "http://ref/\r\n";
  EXPECT_TRUE(d.Fetch("\r\nhost.example:81/x?y=1\r\n"));
  EXPECT_EQ(L"host.example", fake.host);
  EXPECT_EQ(81, fake.port);
  EXPECT_EQ(L"x?y=1", fake.objectName);
  EXPECT_EQ(L"http://ref/", fake.referrer);
  EXPECT_TRUE(trace.Messages().empty());

  d.m_strReferrer = "http://ref/\r\nX: 1";
  EXPECT_FALSE(d.Fetch("host.example/x"));
  EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, d.m_nLastError);
  EXPECT_EQ(1, fake.sends);
}

TEST_F(HttpDownloaderFakeTest, FailingHeaderLineFailsThePreparationAndKeepsTheStore) {
  fake.failAddHeaders = 12153;
  CHttpDownloaderBase d("", L"");
  d.m_nLastError = 5;
  d.SetHeader("A", "1");
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ(5u, d.m_nLastError);
  EXPECT_EQ(1u, d.m_requestHeaders.size());
  EXPECT_EQ(0, fake.sends);
}

TEST_F(HttpDownloaderFakeTest, FailureTableRecordsTheCallsCodes) {
  struct Step {
    DWORD CFakeHttpTransport::*field;
    DWORD code;
    const wchar_t* trace;
  } steps[] = {
      {&CFakeHttpTransport::failConnect, 12007, nullptr},
      {&CFakeHttpTransport::failOpenRequest, 12005, nullptr},
      {&CFakeHttpTransport::failSend, 12029, L"CHttpDownloaderBase::SendRequest - error=[12029]"},
      {&CFakeHttpTransport::failReceive, 12002, nullptr},
      {&CFakeHttpTransport::failRawHeaders, 12150, nullptr},
  };
  for (const Step& s : steps) {
    CFakeHttpTransport local;
    local.*(s.field) = s.code;
    ScopedHttpTransport scope(local);
    CTraceCapture capture;
    CHttpDownloaderBase d("", L"");
    EXPECT_FALSE(d.Fetch("h/x"));
    EXPECT_EQ(s.code, d.m_nLastError);
    std::vector<std::wstring> expected;
    if (s.trace != nullptr) expected.push_back(s.trace);
    EXPECT_EQ(expected, capture.Messages());
    EXPECT_TRUE(local.openHandles.size() <= 1u);  // only the session until the destructor
  }
}

TEST_F(HttpDownloaderFakeTest, ExceptionInsideReceiveCountsAsAFailedCall) {
  fake.throwInReceive = true;
  CHttpDownloaderBase d("", L"");
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ(ERROR_WINHTTP_INTERNAL_ERROR, d.m_nLastError);
}

TEST_F(HttpDownloaderFakeTest, ShortReadFailsAndLeaves122FromTheHeaderParse) {
  fake.response.chunks = {"abc", "defg"};
  fake.shortReadAt = 1;
  CHttpDownloaderBase d("", L"");
  d.m_strBody = "old";
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, d.m_nLastError);
  EXPECT_EQ("old", d.m_strBody);
  EXPECT_EQ(3u, d.m_nBytesReceived);
  EXPECT_EQ(std::vector<std::wstring>{L"HttpDownloader::DownloadData WinHttpReadData"}, trace.Messages());
}

TEST_F(HttpDownloaderFakeTest, StopFlagEndsTheFetchAfterTheFirstChunk) {
  fake.response.headerLines = {"Content-Length: 6"};
  fake.response.chunks = {"abc", "def"};
  CRecordingSink sink;
  CHttpDownloaderBase d("", L"");
  d.m_pProgressSink = &sink;
  d.m_bStop = true;
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{3u, 6u}}), sink.calls);
  EXPECT_TRUE(trace.Messages().empty());
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, d.m_nLastError);
}

TEST_F(HttpDownloaderFakeTest, AnnouncedOversizedBodyIsRefusedBeforeReading) {
  fake.response.headerLines = {"Content-Length: 8388609"};
  fake.response.chunks = {"x"};
  CHttpDownloaderBase d("", L"");
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ(0u, d.m_nBytesReceived);
  EXPECT_EQ(8388609u, d.m_nContentLength);
  EXPECT_EQ(std::vector<std::wstring>{L"HttpDownloader::DownloadData body larger than 8388608 bytes refused"},
            trace.Messages());
}

TEST_F(HttpDownloaderFakeTest, StatusOutsideTwoHundredsFailsWithoutReadingAndRedirectStatusToo) {
  for (const char* line : {"HTTP/1.1 199 Early", "HTTP/1.1 300 Multiple Choices", "HTTP/1.1 500 Internal Error"}) {
    fake.response.statusLine = line;
    fake.response.chunks = {"body"};
    CHttpDownloaderBase d("", L"");
    EXPECT_FALSE(d.Fetch("h/x")) << line;
    EXPECT_EQ(0u, d.m_nBytesReceived);
  }
  fake.response.statusLine = "HTTP/1.1 299 Odd But Fine";
  CHttpDownloaderBase d("", L"");
  EXPECT_TRUE(d.Fetch("h/x"));
  EXPECT_EQ(L"Odd But Fine", d.m_strStatusText);
}

TEST_F(HttpDownloaderFakeTest, SessionFailureSurfacesAsAFailedConnect) {
  fake.failOpen = 12001;
  CHttpDownloaderBase d("", L"");
  EXPECT_EQ(nullptr, d.m_hSession);
  EXPECT_FALSE(d.Fetch("h/x"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, d.m_nLastError);
}

TEST_F(HttpDownloaderFakeTest, QueryHelpersReturnZeroOrEmptyWhenTheQueryFails) {
  fake.response.statusLine = "HTTP/1.1 200 OK";
  CHttpDownloaderBase d("", L"");
  d.m_strUrl = "h/x";
  ASSERT_TRUE(d.OpenRequest(L"GET"));
  ASSERT_TRUE(d.ReceiveResponse(true));
  EXPECT_EQ(0u, QueryHeaderNumber(d.m_hRequest, WINHTTP_QUERY_CONTENT_LENGTH));
  EXPECT_EQ(L"", QueryHeaderString(d.m_hRequest, 1234));
  EXPECT_EQ(L"OK", QueryHeaderString(d.m_hRequest, WINHTTP_QUERY_STATUS_TEXT));
  d.CloseRequest();
}

// The transport behind the WinHTTP seam, driven through the named proxy
// path against the loopback wiki: what reaches the wire, redirects and
// their HTTPS policy, certificate checks, proxy texts, the raw head form,
// the read loop, time-outs and the stop query. Only the seam is used, so
// the same tests hold for every backend (posix-only rules live in
// tests/platform/posix/).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/HttpTransportTesting.h"
#include "support/RefusingPort.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/WikiServer.h"

using namespace platform;

namespace {

const wchar_t* const SITE = L"lyrics.wiki.example";

// Restores the default tuning when a test shortened it.
class ScopedTuning {
 public:
  explicit ScopedTuning(const HttpTransportTuning& t) : m_saved(GetHttpTransportTuning()) { SetHttpTransportTuning(t); }
  ~ScopedTuning() { SetHttpTransportTuning(m_saved); }

 private:
  HttpTransportTuning m_saved;
};

// One request through the transport, step by step.
struct CExchange {
  HINTERNET session = nullptr;
  HINTERNET connect = nullptr;
  HINTERNET request = nullptr;
  DWORD error = 0;
  std::string body;
  std::vector<DWORD> chunkSizes;

  CExchange(const std::wstring& proxy, const std::wstring& host, const std::wstring& object,
            INTERNET_PORT port = 80, DWORD flags = WINHTTP_FLAG_REFRESH, const wchar_t* verb = L"GET") {
    session = WinHttpOpen(L"TestAgent/1.0", proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
                                                         : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                          proxy.empty() ? nullptr : proxy.c_str());
    connect = WinHttpConnect(session, host.c_str(), port);
    if (connect != nullptr) request = WinHttpOpenRequest(connect, verb, object.c_str(), nullptr, flags);
    if (request == nullptr) error = GetLastError();
  }
  ~CExchange() {
    if (request != nullptr) WinHttpCloseHandle(request);
    if (connect != nullptr) WinHttpCloseHandle(connect);
    if (session != nullptr) WinHttpCloseHandle(session);
  }
  bool AddHeader(const std::wstring& line) {
    return WinHttpAddRequestHeaders(request, line.c_str(), WINHTTP_HEADERS_LENGTH_TERMINATED,
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  // Send, receive and read the whole body; false (error set) at the first
  // failing call.
  bool Run(const std::string& requestBody = std::string()) {
    const DWORD length = static_cast<DWORD>(requestBody.size());
    if (!WinHttpSendRequest(request, nullptr, 0, requestBody.empty() ? nullptr : requestBody.data(), length, length,
                            0) ||
        !WinHttpReceiveResponse(request)) {
      error = GetLastError();
      return false;
    }
    return ReadAll();
  }
  bool ReadAll() {
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) {
        error = GetLastError();
        return false;
      }
      if (available == 0) return true;
      chunkSizes.push_back(available);
      std::string chunk(available, '\0');
      DWORD read = 0;
      if (!WinHttpReadData(request, &chunk[0], available, &read) || read != available) {
        error = GetLastError();
        return false;
      }
      body += chunk;
    }
  }
  std::wstring Text(DWORD level) {
    DWORD bytes = 0;
    EXPECT_FALSE(WinHttpQueryHeaders(request, level, nullptr, nullptr, &bytes, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    EXPECT_TRUE(WinHttpQueryHeaders(request, level, nullptr, buffer.data(), &bytes, nullptr));
    return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
  }
  DWORD Number(DWORD level) {
    DWORD value = 0;
    DWORD length = sizeof value;
    if (!WinHttpQueryHeaders(request, level | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &value, &length, nullptr))
      return 0xFFFFFFFF;
    return value;
  }
};

// The wiki speaks HTTPS too, with a certificate of the test authority for
// the site host, 127.0.0.1 and localhost; the transport trusts that
// authority for the suite.
class HttpTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const STestCertificates& certs = STestCertificates::Get();
    SWikiServerOptions options;
    options.tlsCert = certs.strServerCert;
    options.tlsKey = certs.strServerKey;
    s_server = new CWikiServer(options);
    TrustExtraCaFileForTesting(FromUtf8(certs.strCaFile));
  }
  static void TearDownTestSuite() {
    TrustExtraCaFileForTesting(L"");
    delete s_server;
    s_server = nullptr;
  }
  static std::wstring Proxy() { return s_server->WProxy(); }
  static CWikiServer* s_server;
};
CWikiServer* HttpTransportTest::s_server = nullptr;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A stop query that answers "stop" from `after` on, and notes every thread
// that asked it.
struct SDeadlineStop {
  std::chrono::steady_clock::time_point deadline;
  std::vector<std::thread::id> askedFrom;
  explicit SDeadlineStop(std::chrono::milliseconds after) : deadline(std::chrono::steady_clock::now() + after) {}
  // Says stop only from the second question on: a transport that asks once
  // up front and never again while it waits is then never stopped and runs
  // into its time-out, which the callers' time bound catches. (Answering on
  // the deadline alone made that depend on how fast a loaded machine got to
  // the first question.)
  static bool Ask(void* self) {
    auto& s = *static_cast<SDeadlineStop*>(self);
    s.askedFrom.push_back(std::this_thread::get_id());
    return s.askedFrom.size() >= 2 && std::chrono::steady_clock::now() >= s.deadline;
  }
};

// Far below every limit of the transport (30 s to receive, 60 s to
// connect), far above any stop latency: a call that returns before it was
// ended by the stop, not by a time-out.
constexpr auto STOPPED_WELL_BEFORE_ANY_TIME_OUT = std::chrono::seconds(5);

std::string Echo(CExchange& x) {
  EXPECT_TRUE(x.Run()) << x.error;
  return x.body;
}

}  // namespace

TEST_F(HttpTransportTest, RequestGoesThroughTheNamedProxyInAbsoluteFormWithNoCacheHeaders) {
  CExchange x(Proxy(), SITE, L"_test/echo?title=A&from=B+C");
  ASSERT_TRUE(x.AddHeader(L"User-Agent: Mozilla/4.0 (compatible; Test)"));
  ASSERT_TRUE(x.AddHeader(L"Cookie: session=1"));
  std::string wire = Echo(x);
  EXPECT_EQ(0u, wire.find("GET http://lyrics.wiki.example/_test/echo?title=A&from=B+C HTTP/1.1\r\n")) << wire;
  EXPECT_NE(std::string::npos, wire.find("\r\nHost: lyrics.wiki.example\r\n"));
  EXPECT_NE(std::string::npos, wire.find("\r\nPragma: no-cache\r\n"));
  EXPECT_NE(std::string::npos, wire.find("\r\nCache-Control: no-cache\r\n"));
  EXPECT_NE(std::string::npos, wire.find("\r\nUser-Agent: Mozilla/4.0 (compatible; Test)\r\n"));
  EXPECT_EQ(std::string::npos, wire.find("TestAgent"));
  EXPECT_NE(std::string::npos, wire.find("\r\nCookie: session=1\r\n"));
}

TEST_F(HttpTransportTest, SessionAgentIsSentWhenNoUserAgentHeaderIsAdded) {
  CExchange x(Proxy(), SITE, L"_test/echo", 80, 0);
  std::string wire = Echo(x);
  EXPECT_NE(std::string::npos, wire.find("\r\nUser-Agent: TestAgent/1.0\r\n"));
  EXPECT_EQ(std::string::npos, wire.find("no-cache"));
}

TEST_F(HttpTransportTest, WireUnsafeCharactersArePercentEncodedOnceAndSyntaxIsKept) {
  CExchange x(Proxy(), SITE, L"_test/echo?a=b c&d=\u00e9\"<>[]{}|\\^`#frag&e=%41%zz+/");
  std::string wire = Echo(x);
  std::string line = wire.substr(0, wire.find("\r\n"));
  EXPECT_EQ("GET http://lyrics.wiki.example/_test/echo?a=b%20c&d=%C3%A9%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60%23frag"
            "&e=%41%25zz+/ HTTP/1.1",
            line);
}

TEST_F(HttpTransportTest, ControlCharactersNeverReachTheWire) {
  CExchange url(Proxy(), SITE, L"_test/echo\r\nX-Injected: 1");
  EXPECT_EQ(nullptr, url.request);
  EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, url.error);

  CExchange header(Proxy(), SITE, L"_test/echo");
  EXPECT_FALSE(header.AddHeader(L"Cookie: a=1\r\nX-Injected: 1"));
  EXPECT_EQ(ERROR_WINHTTP_INVALID_HEADER, GetLastError());
  EXPECT_FALSE(header.AddHeader(L"X-Bad: a\nb"));
  EXPECT_FALSE(WinHttpAddRequestHeaders(header.request, L"X-Nul: a\0b", 10, WINHTTP_ADDREQ_FLAG_ADD));
  EXPECT_TRUE(header.AddHeader(L"X-Fine: ok\r\n"));
  std::string wire = Echo(header);
  EXPECT_EQ(std::string::npos, wire.find("Injected"));
  EXPECT_NE(std::string::npos, wire.find("\r\nX-Fine: ok\r\n"));

  HINTERNET session = WinHttpOpen(L"a", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr);
  HINTERNET connect = WinHttpConnect(session, L"lyrics.wiki.example", 80);
  EXPECT_EQ(nullptr, WinHttpOpenRequest(connect, L"GET", L"x", L"http://r/\r\nX: 1", 0));
  EXPECT_EQ(nullptr, WinHttpConnect(session, L"evil.example\r\nX: 1", 80));
  EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, GetLastError());
  WinHttpCloseHandle(connect);
  WinHttpCloseHandle(session);
  EXPECT_EQ(nullptr, WinHttpOpen(L"Agent/1\r\nX-Injected: 1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(HttpTransportTest, AddRequestHeadersReplacesCaseInsensitivelyAndAddOnlyAppends) {
  CExchange x(Proxy(), SITE, L"_test/echo");
  ASSERT_TRUE(x.AddHeader(L"X-One: first"));
  ASSERT_TRUE(x.AddHeader(L"x-one: second"));
  ASSERT_TRUE(WinHttpAddRequestHeaders(x.request, L"X-Two: a", WINHTTP_HEADERS_LENGTH_TERMINATED,
                                       WINHTTP_ADDREQ_FLAG_ADD));
  ASSERT_TRUE(WinHttpAddRequestHeaders(x.request, L"X-Two: b", WINHTTP_HEADERS_LENGTH_TERMINATED,
                                       WINHTTP_ADDREQ_FLAG_ADD));
  EXPECT_FALSE(WinHttpAddRequestHeaders(x.request, L"X-Three: c", WINHTTP_HEADERS_LENGTH_TERMINATED,
                                        WINHTTP_ADDREQ_FLAG_REPLACE));
  EXPECT_EQ(ERROR_WINHTTP_HEADER_NOT_FOUND, GetLastError());
  std::string wire = Echo(x);
  EXPECT_EQ(std::string::npos, wire.find("first"));
  EXPECT_NE(std::string::npos, wire.find("\r\nx-one: second\r\n"));
  EXPECT_NE(std::string::npos, wire.find("\r\nX-Two: a\r\nX-Two: b\r\n"));
}

TEST_F(HttpTransportTest, RawHeadIsNulSeparatedWithStatusLineFirstAndEmptyLineLast) {
  CExchange x(Proxy(), SITE, L"_test/cookies?n=2");
  ASSERT_TRUE(x.Run());
  std::wstring raw = x.Text(WINHTTP_QUERY_RAW_HEADERS);
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(0u, raw.find(std::wstring(L"HTTP/1.1 200 OK\0", 16)));
  EXPECT_EQ(std::wstring(L"\0\0", 2), raw.substr(raw.size() - 2));
  EXPECT_NE(std::wstring::npos, raw.find(std::wstring(L"\0Set-Cookie: c1=v1; Path=/\0Set-Cookie: c2=v2; Path=/\0", 52)));
  EXPECT_EQ(std::wstring::npos, raw.find(L'\r'));
  EXPECT_EQ(200u, x.Number(WINHTTP_QUERY_STATUS_CODE));
  EXPECT_EQ(L"OK", x.Text(WINHTTP_QUERY_STATUS_TEXT));
  EXPECT_EQ(8u, x.Number(WINHTTP_QUERY_CONTENT_LENGTH));
}

TEST_F(HttpTransportTest, StatusLineWithoutReasonGivesEmptyStatusText) {
  CExchange x(Proxy(), SITE, L"_test/noreason?status=404");
  ASSERT_TRUE(x.Run());
  EXPECT_EQ(404u, x.Number(WINHTTP_QUERY_STATUS_CODE));
  EXPECT_EQ(L"", x.Text(WINHTTP_QUERY_STATUS_TEXT));
}

TEST_F(HttpTransportTest, StatusLineWithAnEmptyReasonGivesEmptyStatusText) {
  // "HTTP/1.1 404 " : the blank after the code, then nothing.
  CExchange x(Proxy(), SITE, L"_test/noreason?status=404&space=1");
  ASSERT_TRUE(x.Run()) << x.error;
  EXPECT_EQ(404u, x.Number(WINHTTP_QUERY_STATUS_CODE));
  EXPECT_EQ(L"", x.Text(WINHTTP_QUERY_STATUS_TEXT));
}

TEST_F(HttpTransportTest, OddHeadLinesNeverEndUpInTheBody) {
  // A head with a ":value" line among good ones. A transport may refuse
  // such a response; what it must never do is hand out a body that is not
  // the server's (such as the rest of the head).
  CExchange x(Proxy(), SITE, L"_test/headers");
  if (x.Run()) {
    EXPECT_EQ("odd headers\n", x.body);
  } else {
    EXPECT_EQ(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, x.error) << x.body;
  }
}

TEST_F(HttpTransportTest, ChunkedTrickleArrivesWholeAndInOrder) {
  // How many reads the body takes is up to the scheduler; the contract is
  // the whole body, in order, from reads that each deliver something.
  CExchange x(Proxy(), SITE, L"_test/body?size=300&mode=chunked&chunk=100&delay_ms=30");
  ASSERT_TRUE(x.Run());
  ASSERT_EQ(300u, x.body.size());
  for (size_t i = 0; i < x.body.size(); ++i) ASSERT_EQ('a' + static_cast<int>(i % 26), x.body[i]) << i;
  size_t total = 0;
  for (size_t n : x.chunkSizes) {
    EXPECT_GT(n, 0u);
    total += n;
  }
  EXPECT_EQ(300u, total);
  EXPECT_EQ(0xFFFFFFFF, x.Number(WINHTTP_QUERY_CONTENT_LENGTH));  // no length announced
}

TEST_F(HttpTransportTest, RedirectsAreFollowedUpToTen) {
  CExchange ten(Proxy(), SITE, L"_test/redirect/10");
  ASSERT_TRUE(ten.Run()) << ten.error;
  EXPECT_EQ(200u, ten.Number(WINHTTP_QUERY_STATUS_CODE));
  EXPECT_EQ("redirect chain done\n", ten.body);

  CExchange eleven(Proxy(), SITE, L"_test/redirect/11");
  EXPECT_FALSE(eleven.Run());
  EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, eleven.error);
}

TEST_F(HttpTransportTest, RedirectsFollowHttpsButRefuseTheWayBackAndOtherSchemes) {
  // http -> https: through the proxy as CONNECT host:443, then the request
  // inside the tunnel; the status is the final response's.
  CExchange up(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fecho");
  ASSERT_TRUE(up.Run()) << up.error;
  EXPECT_EQ(200u, up.Number(WINHTTP_QUERY_STATUS_CODE));
  EXPECT_EQ(0u, up.body.find("GET /_test/echo HTTP/1.1\r\n")) << up.body;
  std::vector<std::string> requests = s_server->Requests();
  EXPECT_TRUE(Contains(requests, "CONNECT lyrics.wiki.example:443"));
  EXPECT_TRUE(Contains(requests, "GET /_test/echo (tls)"));

  // https -> https, relative locations included.
  CExchange along(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fredirect%2F3");
  ASSERT_TRUE(along.Run()) << along.error;
  EXPECT_EQ("redirect chain done\n", along.body);

  // https -> http is refused before the plain request goes out.
  CExchange down(Proxy(), SITE,
                 L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fredirect-to%3Furl%3D"
                 L"http%253A%252F%252Flyrics.wiki.example%252F_test%252Fstatus%252F299");
  EXPECT_FALSE(down.Run()) << down.body;
  EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, down.error);
  for (const std::string& line : s_server->Requests()) EXPECT_EQ(std::string::npos, line.find("status/299")) << line;

  for (const wchar_t* target : {L"_test/redirect-to?url=file%3A%2F%2F%2Fetc%2Fpasswd",
                                L"_test/redirect-to?url=ftp%3A%2F%2F127.0.0.1%2Fx"}) {
    CExchange other(Proxy(), SITE, target);
    EXPECT_FALSE(other.Run()) << other.body;
    EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, other.error);
  }
}

TEST_F(HttpTransportTest, HttpsThroughTheProxyNeverTravelsInTheClear) {
  // The proxy may see "CONNECT host:443" and nothing else of an https
  // request: its line, headers and path go inside the tunnel. The wiki
  // marks every request it read through TLS with " (tls)".
  CExchange x(Proxy(), SITE,
              L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fecho%3Fin-the-tunnel%3D1");
  ASSERT_TRUE(x.Run()) << x.error;
  EXPECT_NE(std::string::npos, x.body.find("/_test/echo?in-the-tunnel=1 HTTP/1.1\r\n")) << x.body;
  std::vector<std::string> requests = s_server->Requests();
  EXPECT_TRUE(Contains(requests, "CONNECT lyrics.wiki.example:443"));
  const std::string tls = " (tls)";
  int tunnelled = 0;
  for (const std::string& line : requests) {
    if (line.find("/_test/echo?in-the-tunnel=1") != std::string::npos) {  // the hop, not the http request naming it
      const bool inside = line.size() > tls.size() && line.compare(line.size() - tls.size(), tls.size(), tls) == 0;
      EXPECT_TRUE(inside) << "sent in the clear: " << line;
      tunnelled += inside ? 1 : 0;
    }
    if (line.compare(0, 12, "GET https://") == 0) {
      EXPECT_NE(std::string::npos, line.find(tls)) << "sent in the clear: " << line;
    }
  }
  EXPECT_EQ(1, tunnelled);
}

TEST_F(HttpTransportTest, RedirectLimitCountsHopsAcrossSchemes) {
  // One hop to https, then ten more inside it: eleven in all.
  CExchange x(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fredirect%2F10");
  EXPECT_FALSE(x.Run());
  EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, x.error);
  CExchange nine(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fredirect%2F9");
  EXPECT_TRUE(nine.Run()) << nine.error;
}

TEST_F(HttpTransportTest, CertificatesAreVerifiedAgainstTheTrustedAuthorities) {
  // Directly, without the proxy: the same port speaks TLS to a client
  // that opens with a handshake.
  const std::wstring direct = L"_test/redirect-to?url=https%3A%2F%2F127.0.0.1%3A" +
                              std::to_wstring(s_server->Port()) + L"%2F_test%2Futf8";
  HINTERNET session = WinHttpOpen(L"a", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr);
  ASSERT_NE(nullptr, session);
  HINTERNET connect = WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(s_server->Port()));
  HINTERNET request = WinHttpOpenRequest(connect, L"GET", direct.c_str(), nullptr, 0);
  ASSERT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  EXPECT_TRUE(WinHttpReceiveResponse(request)) << GetLastError();
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connect);
  WinHttpCloseHandle(session);

  // A name the certificate does not carry.
  CExchange wrongName(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Fwrong-host.example%2F_test%2Fecho");
  EXPECT_FALSE(wrongName.Run());
  EXPECT_EQ(ERROR_WINHTTP_SECURE_FAILURE, wrongName.error);

  // A certificate of a trusted authority, made for another host.
  const STestCertificates& certs = STestCertificates::Get();
  SWikiServerOptions options;
  options.tlsCert = certs.strWrongHostCert;
  options.tlsKey = certs.strWrongHostKey;
  CWikiServer wrongHost(options);
  CExchange wrongCert(wrongHost.WProxy(), SITE,
                      L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fecho");
  EXPECT_FALSE(wrongCert.Run());
  EXPECT_EQ(ERROR_WINHTTP_SECURE_FAILURE, wrongCert.error);
  EXPECT_TRUE(Contains(wrongHost.Requests(), "CONNECT lyrics.wiki.example:443"));
  for (const std::string& line : wrongHost.Requests()) EXPECT_EQ(std::string::npos, line.find("(tls)")) << line;

  // The system's store alone does not know the test authority.
  TrustExtraCaFileForTesting(L"");
  CExchange untrusted(Proxy(), SITE, L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F_test%2Fecho");
  EXPECT_FALSE(untrusted.Run());
  EXPECT_EQ(ERROR_WINHTTP_SECURE_FAILURE, untrusted.error);
  TrustExtraCaFileForTesting(FromUtf8(certs.strCaFile));
  EXPECT_FALSE(FormatSystemMessage(ERROR_WINHTTP_SECURE_FAILURE).empty());
}

TEST_F(HttpTransportTest, NamedProxyTextsFollowWinHttpAndBadOnesNeverGoDirect) {
  for (const wchar_t* bad : {L"127.0.0.1:notaport", L":80", L"", L"[]:80", L"127.0.0.1:0", L"127.0.0.1:65536",
                             L"127.0.0.1:", L"[::1", L"https=127.0.0.1:1"}) {
    SetLastError(0);
    HINTERNET session = WinHttpOpen(L"a", WINHTTP_ACCESS_TYPE_NAMED_PROXY, bad);
    EXPECT_EQ(nullptr, session) << bad;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError()) << bad;
    if (session != nullptr) WinHttpCloseHandle(session);
  }
  // Accepted: a bare host (port 80), an IPv6 literal in brackets, a scheme
  // prefix and the list form.
  const std::wstring port = std::to_wstring(s_server->Port());
  for (const std::wstring& good : {std::wstring(L"localhost"), L"[::1]:" + port, L"http://127.0.0.1:" + port,
                                   L"http=127.0.0.1:" + port + L";https=127.0.0.1:1"}) {
    HINTERNET session = WinHttpOpen(L"a", WINHTTP_ACCESS_TYPE_NAMED_PROXY, good.c_str());
    EXPECT_NE(nullptr, session) << good;
    if (session != nullptr) WinHttpCloseHandle(session);
  }
  CExchange prefixed(L"http://127.0.0.1:" + port, SITE, L"_test/echo");
  EXPECT_EQ(0u, Echo(prefixed).find("GET http://lyrics.wiki.example/_test/echo HTTP/1.1\r\n"));
}

TEST_F(HttpTransportTest, DisablingRedirectsHandsBackTheRedirectItself) {
  CExchange x(Proxy(), SITE, L"_test/redirect/2");
  DWORD mask = WINHTTP_DISABLE_REDIRECTS;
  ASSERT_TRUE(WinHttpSetOption(x.request, WINHTTP_OPTION_DISABLE_FEATURE, &mask, sizeof mask));
  ASSERT_TRUE(x.Run());
  EXPECT_EQ(302u, x.Number(WINHTTP_QUERY_STATUS_CODE));
}

TEST_F(HttpTransportTest, BrokenServersMapToWinHttpCodes) {
  CExchange dropped(Proxy(), SITE, L"_test/drop?size=1000&sent=100");
  EXPECT_FALSE(dropped.Run());
  EXPECT_EQ(ERROR_WINHTTP_CONNECTION_ERROR, dropped.error);
  EXPECT_LE(dropped.body.size(), 100u);

  CExchange garbage(Proxy(), SITE, L"_test/garbage");
  EXPECT_FALSE(garbage.Run());
  EXPECT_EQ(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, garbage.error);

  CExchange nothing(Proxy(), SITE, L"_test/close");
  EXPECT_FALSE(nothing.Run());
  EXPECT_EQ(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, nothing.error);

  CRefusingPort closedPort;
  std::wstring closed = L"127.0.0.1:" + std::to_wstring(closedPort.Port());
  CExchange refused(closed, SITE, L"x");
  EXPECT_FALSE(refused.Run());
  EXPECT_EQ(ERROR_WINHTTP_CANNOT_CONNECT, refused.error);
}

TEST_F(HttpTransportTest, TrickleBelowTheMinimumRateTimesOut) {
  HttpTransportTuning t;
  t.lowSpeedBytesPerSecond = 1000;
  t.lowSpeedSeconds = 1;
  ScopedTuning tuning(t);
  CExchange x(Proxy(), SITE, L"_test/trickle?size=200&delay_ms=100");
  EXPECT_FALSE(x.Run());
  EXPECT_EQ(ERROR_WINHTTP_TIMEOUT, x.error);
  EXPECT_LT(x.body.size(), 200u);
}

TEST_F(HttpTransportTest, SilentServerTimesOutAfterTheReceiveLimit) {
  HttpTransportTuning t;
  t.receiveTimeoutMs = 300;
  ScopedTuning tuning(t);
  CExchange head(Proxy(), SITE, L"_test/hang?ms=20000");
  EXPECT_FALSE(head.Run());
  EXPECT_EQ(ERROR_WINHTTP_TIMEOUT, head.error);

  CExchange body(Proxy(), SITE, L"_test/head-then-hang?ms=20000");
  EXPECT_FALSE(body.Run());
  EXPECT_EQ(ERROR_WINHTTP_TIMEOUT, body.error);
}

TEST_F(HttpTransportTest, HandlesAreCheckedAndStepsKeepTheirOrder) {
  int dummy = 0;
  EXPECT_EQ(nullptr, WinHttpConnect(nullptr, L"h", 80));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(nullptr, WinHttpConnect(&dummy, L"h", 80));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_FALSE(WinHttpCloseHandle(&dummy));

  CExchange x(Proxy(), SITE, L"_test/empty");
  DWORD available = 0;
  EXPECT_FALSE(WinHttpQueryDataAvailable(x.request, &available));
  EXPECT_EQ(ERROR_WINHTTP_INCORRECT_HANDLE_STATE, GetLastError());
  EXPECT_EQ(nullptr, WinHttpOpenRequest(x.session, L"GET", L"", nullptr, 0));
  EXPECT_EQ(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, GetLastError());
  ASSERT_TRUE(x.Run());
  EXPECT_EQ("", x.body);
}

// --- the stop query ----------------------------------------------------------

// Runs one exchange under a stop query that answers "stop" 200 ms in, and
// checks that it ended as cancelled, soon, and that the query was asked
// only from this thread.
void ExpectStoppedExchange(CExchange& x, const std::string& requestBody = std::string()) {
  SDeadlineStop stop(std::chrono::milliseconds(200));
  const auto started = std::chrono::steady_clock::now();
  bool ok = false;
  {
    CScopedStopQuery scope(&SDeadlineStop::Ask, &stop);
    ok = x.Run(requestBody);
  }
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(ok);
  EXPECT_EQ(ERROR_WINHTTP_OPERATION_CANCELLED, x.error);
  EXPECT_LT(took, STOPPED_WELL_BEFORE_ANY_TIME_OUT);
  ASSERT_FALSE(stop.askedFrom.empty());
  for (const std::thread::id& id : stop.askedFrom) EXPECT_EQ(std::this_thread::get_id(), id);
}

TEST_F(HttpTransportTest, StopEndsAConnectionThatIsNeverAccepted) {
  SWikiServerOptions options;
  options.stallAccept = true;
  CWikiServer stuck(options);
  CExchange x(stuck.WProxy(), SITE, L"_test/echo");
  ExpectStoppedExchange(x);
}

TEST_F(HttpTransportTest, StopEndsARequestBodyThatIsNeverRead) {
  CExchange x(Proxy(), SITE, L"_test/hang?ms=60000", 80, 0, L"PUT");
  ExpectStoppedExchange(x, std::string(32u << 20, 'x'));
}

TEST_F(HttpTransportTest, StopEndsTheWaitForAResponseHeadThatNeverComes) {
  CExchange x(Proxy(), SITE, L"_test/hang?ms=60000");
  ExpectStoppedExchange(x);
}

TEST_F(HttpTransportTest, StopEndsATricklingBodyAndTheRequestStaysEnded) {
  CExchange x(Proxy(), SITE, L"_test/trickle?size=100000");
  ExpectStoppedExchange(x);
  EXPECT_FALSE(x.body.empty());  // the head and some bytes had come
  EXPECT_LT(x.body.size(), 100000u);
  DWORD available = 0;
  EXPECT_FALSE(WinHttpQueryDataAvailable(x.request, &available));
  EXPECT_EQ(ERROR_WINHTTP_OPERATION_CANCELLED, GetLastError());
}

TEST_F(HttpTransportTest, StopQueryThatSaysNoLeavesTheTransferAlone) {
  SDeadlineStop never(std::chrono::hours(1));
  CScopedStopQuery scope(&SDeadlineStop::Ask, &never);
  CExchange x(Proxy(), SITE, L"_test/body?size=3000&chunk=1000&delay_ms=60");
  ASSERT_TRUE(x.Run()) << x.error;
  EXPECT_EQ(3000u, x.body.size());
  EXPECT_FALSE(never.askedFrom.empty());
}

TEST(StopQueryScope, NestedScopesRestoreTheQueryTheyReplaced) {
  EXPECT_FALSE(IsStopQueryAnsweringStop());
  auto yes = [](void*) { return true; };
  auto no = [](void*) { return false; };
  {
    CScopedStopQuery outer(yes, nullptr);
    EXPECT_TRUE(IsStopQueryAnsweringStop());
    {
      CScopedStopQuery inner(no, nullptr);
      EXPECT_FALSE(IsStopQueryAnsweringStop());
    }
    EXPECT_TRUE(IsStopQueryAnsweringStop());
    bool otherThread = true;
    std::thread([&] { otherThread = IsStopQueryAnsweringStop(); }).join();
    EXPECT_FALSE(otherThread);  // a query belongs to the thread that installed it
  }
  EXPECT_FALSE(IsStopQueryAnsweringStop());
}

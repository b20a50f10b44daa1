// The transport behind the WinHTTP seam, on every backend (libcurl on posix,
// WinHTTP on Windows under Wine), driven through the named proxy path against
// the loopback wiki: what reaches the wire, redirects, the raw head form, the
// read loop, time-outs and the error mapping. The libcurl backend's own
// helpers are tested in tests/http/posix/CurlTransportTest.cpp.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
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
            INTERNET_PORT port = 80, DWORD flags = WINHTTP_FLAG_REFRESH) {
    session = WinHttpOpen(L"TestAgent/1.0", proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
                                                         : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                          proxy.empty() ? nullptr : proxy.c_str());
    connect = WinHttpConnect(session, host.c_str(), port);
    if (connect != nullptr) request = WinHttpOpenRequest(connect, L"GET", object.c_str(), nullptr, flags);
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
  bool Run() {
    if (!WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) || !WinHttpReceiveResponse(request)) {
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

class HttpTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new CWikiServer(); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  static std::wstring Proxy() { return s_server->WProxy(); }
  static CWikiServer* s_server;
};
CWikiServer* HttpTransportTest::s_server = nullptr;

std::string Echo(CExchange& x) {
  EXPECT_TRUE(x.Run()) << x.error;
  return x.body;
}

// A loopback port nobody listens on: one a wiki server just gave up.
int ClosedPort() {
  CWikiServer server;
  return server.Port();
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

TEST_F(HttpTransportTest, ChunkedTrickleArrivesInSeveralChunksInOrder) {
  CExchange x(Proxy(), SITE, L"_test/body?size=300&mode=chunked&chunk=100&delay_ms=30");
  ASSERT_TRUE(x.Run());
  EXPECT_EQ(300u, x.body.size());
  EXPECT_EQ('a' + 299 % 26, x.body[299]);
  EXPECT_GE(x.chunkSizes.size(), 2u);
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

TEST_F(HttpTransportTest, RedirectsLeaveHttpOnlyAsAFailure) {
  for (const wchar_t* target : {L"_test/redirect-to?url=https%3A%2F%2Flyrics.wiki.example%2F",
                                L"_test/redirect-to?url=file%3A%2F%2F%2Fetc%2Fpasswd"}) {
    CExchange x(Proxy(), SITE, target);
    EXPECT_FALSE(x.Run()) << x.body;
    EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, x.error);
  }
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

  std::wstring closed = L"127.0.0.1:" + std::to_wstring(ClosedPort());
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

// Redirect hops of the WinHTTP backend: each hop goes out on a session of
// the request's own, made like the caller's, so a caller that closed its
// session and connection (whose handle values WinHTTP may give to another
// session, here one with another proxy) still gets its response through its
// own proxy. A hop replays the request's headers; 307 and 308 resend the
// body; the Location target is escaped by WinHTTP.
#include <gtest/gtest.h>

#include <string>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "support/RefusingPort.h"
#include "support/WikiServer.h"

using namespace platform;

namespace {

const wchar_t* const SITE = L"lyrics.wiki.example";

// Sends `body` on `request`, receives and reads the whole response body;
// false (error set) at the first failing call.
bool Exchange(HINTERNET request, const std::string& body, std::string& response, DWORD& error) {
  const DWORD length = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request, nullptr, 0, body.empty() ? nullptr : body.data(), length, length, 0) ||
      !WinHttpReceiveResponse(request)) {
    error = GetLastError();
    return false;
  }
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      error = GetLastError();
      return false;
    }
    if (available == 0) return true;
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!WinHttpReadData(request, &chunk[0], available, &read)) {
      error = GetLastError();
      return false;
    }
    response.append(chunk, 0, read);
  }
}

}  // namespace

TEST(WinHttpHops, HopUsesTheRequestsOwnSessionAfterTheCallerClosedItsOwn) {
  CWikiServer server;
  CRefusingPort refusing;
  for (DWORD status : {302u, 307u}) {
    SCOPED_TRACE(status);
    HINTERNET session = WinHttpOpen(L"HopAgent/1.0", WINHTTP_ACCESS_TYPE_NAMED_PROXY, server.WProxy().c_str());
    ASSERT_NE(session, nullptr);
    HINTERNET connect = WinHttpConnect(session, SITE, 80);
    ASSERT_NE(connect, nullptr);
    const std::wstring object = L"_test/redirect-to?status=" + std::to_wstring(status) + L"&url=%2F_test%2Fecho";
    HINTERNET request = WinHttpOpenRequest(connect, L"POST", object.c_str(), nullptr, WINHTTP_FLAG_REFRESH);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(WinHttpAddRequestHeaders(request, L"X-Hop: kept", WINHTTP_HEADERS_LENGTH_TERMINATED,
                                         WINHTTP_ADDREQ_FLAG_ADD));
    // The caller closes its parents, and opens other sessions through a
    // proxy that refuses everything (they may get the old handle values).
    ASSERT_TRUE(WinHttpCloseHandle(connect));
    ASSERT_TRUE(WinHttpCloseHandle(session));
    const std::wstring refusingProxy = L"127.0.0.1:" + std::to_wstring(refusing.Port());
    HINTERNET others[2];
    for (HINTERNET& other : others) {
      other = WinHttpOpen(L"Other/1.0", WINHTTP_ACCESS_TYPE_NAMED_PROXY, refusingProxy.c_str());
      ASSERT_NE(other, nullptr);
    }
    std::string echo;
    DWORD error = 0;
    const bool ok = Exchange(request, "payload", echo, error);
    for (HINTERNET other : others) WinHttpCloseHandle(other);
    WinHttpCloseHandle(request);
    ASSERT_TRUE(ok) << "error " << error;
    // The hop went through the wiki (the echo), with the caller's header
    // and agent; a 307 keeps the verb and resends the body, a 302 turns a
    // POST into a GET without one.
    EXPECT_NE(echo.find("/_test/echo HTTP/1.1\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\r\nX-Hop: kept\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("\r\nUser-Agent: HopAgent/1.0\r\n"), std::string::npos) << echo;
    if (status == 307) {
      EXPECT_EQ(echo.compare(0, 5, "POST "), 0) << echo;
      EXPECT_EQ(echo.substr(echo.size() - 7), "payload") << echo;
    } else {
      EXPECT_EQ(echo.compare(0, 4, "GET "), 0) << echo;
      EXPECT_EQ(echo.find("payload"), std::string::npos) << echo;
    }
  }
}

TEST(WinHttpHops, LocationTargetIsEscapedAsWinHttpEscapesIt) {
  CWikiServer server;
  HINTERNET session = WinHttpOpen(L"HopAgent/1.0", WINHTTP_ACCESS_TYPE_NAMED_PROXY, server.WProxy().c_str());
  ASSERT_NE(session, nullptr);
  HINTERNET connect = WinHttpConnect(session, SITE, 80);
  ASSERT_NE(connect, nullptr);
  // Location: /_test/echo?q=a b
  HINTERNET request =
      WinHttpOpenRequest(connect, L"GET", L"_test/redirect-to?url=%2F_test%2Fecho%3Fq%3Da%20b", nullptr, 0);
  ASSERT_NE(request, nullptr);
  std::string echo;
  DWORD error = 0;
  const bool ok = Exchange(request, std::string(), echo, error);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connect);
  WinHttpCloseHandle(session);
  ASSERT_TRUE(ok) << "error " << error;
  EXPECT_NE(echo.find("/_test/echo?q=a%20b HTTP/1.1\r\n"), std::string::npos) << echo;
}

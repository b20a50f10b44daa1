// Rules of the libcurl backend that no other backend shares: the mapping of
// libcurl results onto WinHTTP codes, the percent-encoding of the request
// target, and the reading of a named proxy text (WinHTTP parses its own).
#include <curl/curl.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/posix/CurlErrorMap.h"
#include "platform/ProxyText.h"

using namespace platform;

TEST(CurlRules, EncodingKeepsSyntaxAndExistingEscapes) {
  EXPECT_EQ("a%20b?x=1&y=2+3/%7E", EncodeRequestTarget("a b?x=1&y=2+3/%7E"));
  EXPECT_EQ("%25%252%25G1", EncodeRequestTarget("%%2%G1"));
  EXPECT_EQ("%09%7F%FF", EncodeRequestTarget("\t\x7f\xff"));
  EXPECT_EQ("%23", EncodeRequestTarget("#"));
}

TEST(CurlRules, EveryMappedCurlFailureHasAWinHttpCodeWithSystemText) {
  struct Case {
    CURLcode curl;
    DWORD expected;
  } cases[] = {
      {CURLE_OPERATION_TIMEDOUT, 12002},   {CURLE_COULDNT_RESOLVE_HOST, 12007},
      {CURLE_COULDNT_RESOLVE_PROXY, 12007}, {CURLE_COULDNT_CONNECT, 12029},
      {CURLE_RECV_ERROR, 12030},           {CURLE_SEND_ERROR, 12030},
      {CURLE_PARTIAL_FILE, 12030},         {CURLE_WEIRD_SERVER_REPLY, 12152},
      {CURLE_GOT_NOTHING, 12152},          {CURLE_URL_MALFORMAT, 12005},
      {CURLE_TOO_MANY_REDIRECTS, 12156},   {CURLE_ABORTED_BY_CALLBACK, 12017},
      {CURLE_SSL_CONNECT_ERROR, 12175},    {CURLE_PEER_FAILED_VERIFICATION, 12175},
      {CURLE_SSL_CACERT_BADFILE, 12175},   {CURLE_FAILED_INIT, 12004},
      {CURLE_OUT_OF_MEMORY, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, WinHttpErrorFromCurl(c.curl, false)) << c.curl;
    EXPECT_FALSE(FormatSystemMessage(c.expected).empty()) << c.expected;
  }
  EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, WinHttpErrorFromCurl(CURLE_UNSUPPORTED_PROTOCOL, true));
  EXPECT_EQ(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, WinHttpErrorFromCurl(CURLE_UNSUPPORTED_PROTOCOL, false));
  for (int code = 1; code < CURL_LAST; ++code)
    EXPECT_FALSE(FormatSystemMessage(WinHttpErrorFromCurl(code, code % 2 == 0)).empty()) << code;
  for (DWORD code : {12018u, 12019u, 12150u, 12153u})
    EXPECT_FALSE(FormatSystemMessage(code).empty()) << code;
}

TEST(CurlRules, NamedProxyWithoutPortIsPortEightyAsInWinHttp) {
  struct Case {
    const char* text;
    const char* url;
  } cases[] = {
      {"proxy.example", "http://proxy.example:80"},
      {"proxy.example:3128", "http://proxy.example:3128"},
      {"HTTP://proxy.example:3128/", "http://proxy.example:3128"},
      {"[::1]:8080", "http://[::1]:8080"},
      {"[::1]", "http://[::1]:80"},
      {"[fe80::1:2]:65535", "http://[fe80::1:2]:65535"},
      {"127.0.0.1:1", "http://127.0.0.1:1"},
      {"https=a:1;http=b:2", "http://b:2"},
      {"https=a:1 c", "http://c:80"},
      {"\tproxy.example:81\t", "http://proxy.example:81"},
  };
  for (const Case& c : cases) {
    std::string url;
    EXPECT_TRUE(ParseNamedProxy(c.text, url)) << c.text;
    EXPECT_EQ(c.url, url) << c.text;
  }
}

TEST(CurlRules, NamedProxyThatCannotBeParsedIsRefused) {
  for (const char* text : {"", ":80", "host:notaport", "host:", "host:0", "host:65536", "host:123456", "host:-1",
                           "host:8x", "[]:80", "[::1", "[::1]80", "[::1]:x", "[zz::1]:80", "[1.2.3.4]:80",
                           "user@host:80", "host/path:80", "https=a:1", "a\r\nb:80"}) {
    std::string url = "unchanged";
    EXPECT_FALSE(ParseNamedProxy(text, url)) << text;
    EXPECT_EQ("unchanged", url) << text;
  }
}

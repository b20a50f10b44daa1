// The libcurl backend's own helpers: the percent-encoding of request
// targets and the mapping of libcurl results onto WinHTTP codes.
#include <curl/curl.h>

#include <gtest/gtest.h>

#include "platform/ErrorText.h"
#include "platform/HttpTransport.h"
#include "platform/posix/CurlErrorMap.h"

using namespace platform;

TEST(CurlRequestTarget, EncodingRulesKeepSyntaxAndExistingEscapes) {
  EXPECT_EQ("a%20b?x=1&y=2+3/%7E", EncodeRequestTarget("a b?x=1&y=2+3/%7E"));
  EXPECT_EQ("%25%252%25G1", EncodeRequestTarget("%%2%G1"));
  EXPECT_EQ("%09%7F%FF", EncodeRequestTarget("\t\x7f\xff"));
  EXPECT_EQ("%23", EncodeRequestTarget("#"));
}

TEST(HttpErrorMapping, EveryMappedCurlFailureHasAWinHttpCodeWithSystemText) {
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
      {CURLE_SSL_CONNECT_ERROR, 12175},    {CURLE_FAILED_INIT, 12004},
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

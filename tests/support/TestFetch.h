// A plain HTTP client for tests of the loopback wiki server itself: one
// request, through the server as a proxy or directly, never through a proxy
// from the environment. posix: libcurl in process. Under Wine: the native
// curl command line (the same library), started through /bin/sh as the
// server is, with its results in files, since Wine cannot hand a Linux
// process's output to the test or wait for it.
//
// Any failure to fetch shows as bOk == false; a client that cannot be run
// at all throws std::runtime_error. Call from the test's thread.
#ifndef VERSEWELL_TESTS_SUPPORT_TEST_FETCH_H
#define VERSEWELL_TESTS_SUPPORT_TEST_FETCH_H

#include <string>

struct SFetched {
  long nStatus = 0;    // the response's status; for a refused CONNECT, the proxy's answer
  std::string strBody;  // the bytes received, even when the transfer failed
  bool bOk = false;     // the transfer completed
};

// Fetches `url` through `proxy` ("host:port"; empty: directly), trusting the
// authority in `caFile` for https; at most 20 s.
SFetched FetchUrl(const std::string& url, const std::string& proxy, const std::string& caFile);

// Whether a TCP connection to 127.0.0.1:`port` is accepted.
bool LoopbackPortAccepts(int port);

#endif  // VERSEWELL_TESTS_SUPPORT_TEST_FETCH_H

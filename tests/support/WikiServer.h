// Starts the built versewell-wiki program for one test (or one test suite)
// on a free loopback port with a given content folder, and stops it again.
//
// The constructor spawns the server with --port 0, waits (at most 10 s) for
// its "listening on 127.0.0.1:PORT" line and throws std::runtime_error when
// the server does not come up. The destructor sends SIGTERM, waits for the
// process and falls back to SIGKILL after 5 s; a test process that ends
// without it (a crash, a time-out) takes the server with it (posix: the
// parent-death signal). Tests point the plug-in at the
// server with the host value "HttpProxy" = Proxy(). Not thread-safe; create
// and destroy it on the test's thread.
#ifndef VERSEWELL_TESTS_SUPPORT_WIKI_SERVER_H
#define VERSEWELL_TESTS_SUPPORT_WIKI_SERVER_H

#include <functional>
#include <string>
#include <vector>

struct SWikiServerOptions {
  std::string root;     // see CWikiServer(root)
  std::string tlsCert;  // with tlsKey: serve HTTPS too (--tls-cert/--tls-key)
  std::string tlsKey;
  bool stallAccept = false;  // --stall-accept: connections are never answered
  long delayMs = 0;          // --delay-ms: every response held back this long
};

// The server's arguments for `options` other than --root and --port:
// "--log" first, then the TLS, stall and delay options. `serverPath` turns a
// test's file path into one the server program can open.
std::vector<std::string> WikiServerOptionArguments(const SWikiServerOptions& options,
                                                   const std::function<std::string(const std::string&)>& serverPath);

class CWikiServer {
 public:
  // `root` is the content folder; an empty root serves an empty temporary
  // folder of the server's own (useful for the /_test/ modes alone).
  explicit CWikiServer(const std::string& root = std::string());
  explicit CWikiServer(const SWikiServerOptions& options);
  ~CWikiServer();
  CWikiServer(const CWikiServer&) = delete;
  CWikiServer& operator=(const CWikiServer&) = delete;

  int Port() const { return m_port; }
  // "127.0.0.1:PORT", the proxy text for the host value "HttpProxy".
  std::string Proxy() const;
  std::wstring WProxy() const;
  // "http://127.0.0.1:PORT" + path, for fetching from the server directly.
  std::string Url(const std::string& path) const;

  // The request lines the server has read so far, one per request
  // ("GET /x", "CONNECT host:443", "GET /y (tls)"), in order.
  std::vector<std::string> Requests() const;

  // Path of the server program the tests use.
  static std::string ProgramPath();

 private:
  void Start(const SWikiServerOptions& options);
  void Stop();

  int m_pid = -1;
  int m_stdout = -1;
  int m_port = 0;
  std::string m_ownRoot;  // temporary folder made when no root was given
  // Under Wine (tests/support/win32/WikiServer.cpp): the launcher's folder.
  std::string m_stateDir;
  std::string m_logFile;  // the server's --log output (under Wine: in m_stateDir)
};

#endif  // VERSEWELL_TESTS_SUPPORT_WIKI_SERVER_H

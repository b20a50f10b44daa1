// One accepted client connection of the test wiki server: reads a request
// head and writes raw response bytes.
//
// The server answers one request per connection and closes it
// ("Connection: close"), which is all the plug-in's one-download-per-session
// client needs; a "CONNECT host:port" tunnel carries one more request, over
// TLS. A connection belongs to the one thread that serves it.
// Failures (a client that goes away, a head that is too large or malformed)
// are results, never exceptions; writes never raise SIGPIPE.
#ifndef VERSEWELL_WIKI_HTTP_CONNECTION_H
#define VERSEWELL_WIKI_HTTP_CONNECTION_H

#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

typedef struct ssl_st SSL;

namespace wiki {

class CTlsContext;

struct WikiRequest {
  std::string method;
  std::string target;   // as sent: absolute form, origin form, or "host:port" for CONNECT
  std::string version;
  std::string rawHead;  // request line and header lines exactly as received, blank line included
  std::vector<std::pair<std::string, std::string>> headers;
  std::string path;     // the target's path, still percent-encoded, always beginning with "/" (empty for CONNECT)
  std::string query;    // the text after the first '?', still encoded
  std::string body;     // the Content-Length bytes after the head (at most MAX_HEAD_BYTES)
};

class CHttpConnection {
 public:
  static constexpr size_t MAX_HEAD_BYTES = 64 * 1024;

  // Takes ownership of the socket `fd`; `stopping` is the server's shutdown
  // flag, which long-running responses poll.
  CHttpConnection(int fd, const std::atomic<bool>& stopping);
  ~CHttpConnection();
  CHttpConnection(const CHttpConnection&) = delete;
  CHttpConnection& operator=(const CHttpConnection&) = delete;

  // Reads and parses one request head. False when the client sent nothing
  // usable; `status` then holds the status to answer with (0: just close).
  bool ReadRequest(WikiRequest& request, int& status);

  // True when the client's first byte, waited for at most the head read
  // time, opens a TLS handshake. Reads nothing.
  bool StartsWithTlsHandshake();
  // Runs the server side of a TLS handshake; from then on every read and
  // write goes through TLS. False when the handshake fails.
  bool StartTls(const CTlsContext& tls);
  bool IsTls() const { return m_pSsl != nullptr; }

  // Writes all bytes; false when the client has gone.
  bool Send(const std::string& bytes);
  bool Send(const char* data, size_t size);
  // Sleeps up to `ms` milliseconds in small steps; false when the server is
  // stopping (the caller should give up).
  bool Pause(long long ms);
  bool Stopping() const { return m_stopping.load(); }

  // A complete response with Content-Length and "Connection: close". For a
  // HEAD request the body is left out. `extraHeaders` are full lines
  // without their CR LF.
  bool SendResponse(int status, const std::string& contentType, const std::string& body,
                    const std::vector<std::string>& extraHeaders = {}, bool headOnly = false);

 private:
  // Appends what the peer sends next to `buffer`; false at the end of the
  // connection, a failure, the deadline or the server's stop.
  bool ReceiveMore(std::string& buffer, std::chrono::steady_clock::time_point deadline);
  long Receive(char* buffer, size_t size);

  int m_fd;
  const std::atomic<bool>& m_stopping;
  SSL* m_pSsl = nullptr;
};

// The usual reason phrase of a status code ("Not Found"); "Unknown" for codes
// without one.
const char* ReasonPhrase(int status);

}  // namespace wiki

#endif  // VERSEWELL_WIKI_HTTP_CONNECTION_H

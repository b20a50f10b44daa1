#include "wiki/HttpConnection.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <thread>

#include "wiki/TlsContext.h"

namespace wiki {
namespace {

constexpr int HEAD_READ_TIMEOUT_MS = 10000;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 407: return "Proxy Authentication Required";
    case 410: return "Gone";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Unknown";
  }
}

CHttpConnection::CHttpConnection(int fd, const std::atomic<bool>& stopping) : m_fd(fd), m_stopping(stopping) {}

CHttpConnection::~CHttpConnection() {
  if (m_pSsl != nullptr) {
    SSL_shutdown(m_pSsl);  // one close_notify, no wait for the peer's
    SSL_free(m_pSsl);
  }
  if (m_fd >= 0) {
    shutdown(m_fd, SHUT_WR);
    close(m_fd);
  }
}

bool CHttpConnection::ReceiveMore(std::string& buffer, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_stopping.load()) return false;
    if (m_pSsl == nullptr || SSL_pending(m_pSsl) == 0) {
      pollfd p{m_fd, POLLIN, 0};
      int r = poll(&p, 1, static_cast<int>(left.count() < 200 ? left.count() : 200));
      if (r < 0 && errno != EINTR) return false;
      if (r <= 0) continue;
    }
    char chunk[4096];
    long n = Receive(chunk, sizeof chunk);
    if (n < 0) continue;  // TLS record not complete yet
    if (n == 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

bool CHttpConnection::ReadRequest(WikiRequest& request, int& status) {
  status = 0;
  std::string buffer;
  size_t headEnd = std::string::npos;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(HEAD_READ_TIMEOUT_MS);
  while (headEnd == std::string::npos) {
    if (buffer.size() > MAX_HEAD_BYTES) {
      status = 431;
      return false;
    }
    if (!ReceiveMore(buffer, deadline)) return false;
    headEnd = buffer.find("\r\n\r\n");
  }
  request.rawHead = buffer.substr(0, headEnd + 4);

  size_t lineEnd = request.rawHead.find("\r\n");
  std::string line = request.rawHead.substr(0, lineEnd);
  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) {
    status = 400;
    return false;
  }
  request.method = line.substr(0, sp1);
  request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = line.substr(sp2 + 1);
  if (request.version.compare(0, 5, "HTTP/") != 0 || request.target.empty()) {
    status = 400;
    return false;
  }
  const bool connect = request.method == "CONNECT";

  size_t pos = lineEnd + 2;
  while (pos < headEnd) {
    size_t end = request.rawHead.find("\r\n", pos);
    std::string h = request.rawHead.substr(pos, end - pos);
    size_t colon = h.find(':');
    if (colon != std::string::npos && colon > 0)
      request.headers.emplace_back(h.substr(0, colon), Trim(h.substr(colon + 1)));
    pos = end + 2;
  }
  // The body a Content-Length announces, read so that closing the
  // connection never drops unread bytes (which would reset it under the
  // response). A body beyond MAX_HEAD_BYTES is left unread: the request is
  // answered without it, and a client still sending it stays blocked, as
  // the transport's stop tests need.
  size_t bodyLength = 0;
  for (const auto& h : request.headers) {
    std::string name = h.first;
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (name == "content-length") bodyLength = static_cast<size_t>(std::strtoull(h.second.c_str(), nullptr, 10));
  }
  if (bodyLength <= MAX_HEAD_BYTES) {
    const size_t wanted = headEnd + 4 + bodyLength;
    while (buffer.size() < wanted)
      if (!ReceiveMore(buffer, deadline)) return false;
    request.body = buffer.substr(headEnd + 4, bodyLength);
  }

  // Authority form "host:port", for CONNECT only.
  if (connect) {
    size_t colon = request.target.rfind(':');
    if (colon == std::string::npos || colon == 0 || request.target[0] == '/') {
      status = 400;
      return false;
    }
    return true;
  }
  // Absolute form "http://host[:port]/path?query" or origin form "/path?query".
  std::string target = request.target;
  size_t scheme = target.find("://");
  if (target[0] != '/' && scheme != std::string::npos) {
    size_t slash = target.find('/', scheme + 3);
    size_t question = target.find('?', scheme + 3);
    if (slash == std::string::npos || (question != std::string::npos && question < slash))
      target = "/" + (question == std::string::npos ? std::string() : target.substr(question));
    else
      target = target.substr(slash);
  } else if (target[0] != '/') {
    status = 400;
    return false;
  }
  size_t q = target.find('?');
  request.path = target.substr(0, q);
  request.query = q == std::string::npos ? std::string() : target.substr(q + 1);
  return true;
}

long CHttpConnection::Receive(char* buffer, size_t size) {
  if (m_pSsl == nullptr) {
    ssize_t n = recv(m_fd, buffer, size, 0);
    return n < 0 && errno == EINTR ? -1 : (n < 0 ? 0 : static_cast<long>(n));
  }
  int n = SSL_read(m_pSsl, buffer, static_cast<int>(size));
  if (n > 0) return n;
  int e = SSL_get_error(m_pSsl, n);
  return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? -1 : 0;
}

bool CHttpConnection::StartsWithTlsHandshake() {
  pollfd p{m_fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, HEAD_READ_TIMEOUT_MS);
  } while (r < 0 && errno == EINTR);
  unsigned char first = 0;
  return r > 0 && recv(m_fd, &first, 1, MSG_PEEK) == 1 && first == 0x16;  // TLS record type "handshake"
}

bool CHttpConnection::StartTls(const CTlsContext& tls) {
  if (m_pSsl != nullptr) return false;
  m_pSsl = tls.NewSession(m_fd);
  if (m_pSsl == nullptr) return false;
  // A client that stalls in the handshake must not hold the thread forever.
  timeval limit{HEAD_READ_TIMEOUT_MS / 1000, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  bool ok = SSL_accept(m_pSsl) == 1;
  timeval none{0, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  return ok;
}

bool CHttpConnection::Send(const char* data, size_t size) {
  if (m_pSsl != nullptr) {
    while (size > 0) {
      int n = SSL_write(m_pSsl, data, static_cast<int>(size < 65536 ? size : 65536));
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  while (size > 0) {
    ssize_t n = send(m_fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CHttpConnection::Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }

bool CHttpConnection::Pause(long long ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (m_stopping.load()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    std::this_thread::sleep_for(std::chrono::milliseconds(left.count() < 50 ? left.count() : 50));
  }
  return !m_stopping.load();
}

bool CHttpConnection::SendResponse(int status, const std::string& contentType, const std::string& body,
                                   const std::vector<std::string>& extraHeaders, bool headOnly) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
  head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  head += "Server: versewell-wiki\r\nConnection: close\r\n";
  for (const std::string& h : extraHeaders) head += h + "\r\n";
  head += "\r\n";
  if (!Send(head)) return false;
  return headOnly || Send(body);
}

}  // namespace wiki

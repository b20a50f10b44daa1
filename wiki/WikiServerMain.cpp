// versewell-wiki: the loopback lyrics wiki. Serves a content folder (see
// wiki/CONTENT-FORMAT.md) on 127.0.0.1 only, as an HTTP proxy for the wiki's
// host and as an origin server, plus the bad-server modes under /_test/.
//
//   versewell-wiki [--root DIR] [--port N] [--log] [--tls-cert FILE --tls-key FILE] [--stall-accept]
//
// Without --root it serves the sample content installed beside it
// (<prefix>/share/versewell/wiki), or, in a build tree, the sample in the
// source tree.
//
// Prints "listening on 127.0.0.1:PORT" on standard output once it accepts
// connections (--port 0, the default, picks a free port). SIGINT or SIGTERM
// stop it: it stops accepting, lets running responses end (they give up
// their pauses at once) and exits 0.
//
// With a certificate and key it also speaks HTTPS on the same port: a
// connection that opens with a TLS handshake is served over TLS, and as a
// proxy it answers "CONNECT host:port" itself, serving the tunnel's request
// over TLS as that host. It never connects anywhere.
//
// With --stall-accept it plays a server that never answers a connection:
// it listens, fills its own accept queue, never accepts, so a client stays
// stuck in connecting.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "wiki/ContentSite.h"
#include "wiki/HttpConnection.h"
#include "wiki/TestModes.h"
#include "wiki/TlsContext.h"

namespace {

int g_signalPipe[2] = {-1, -1};
std::atomic<bool> g_stopping{false};
std::mutex g_activeMutex;
std::condition_variable g_activeChanged;
int g_active = 0;
bool g_log = false;
const wiki::CTlsContext* g_pTls = nullptr;  // set once before the first connection

void OnSignal(int) {
  int saved = errno;
  char c = 1;
  ssize_t ignored = write(g_signalPipe[1], &c, 1);
  (void)ignored;
  errno = saved;
}

const char* const USAGE =
    "usage: versewell-wiki [--root DIR] [--port N] [--log] [--tls-cert FILE --tls-key FILE] [--stall-accept]\n"
    "\n"
    "Serves a lyrics wiki content folder on 127.0.0.1, as an HTTP proxy for the\n"
    "wiki's host and as an origin server (format: wiki/CONTENT-FORMAT.md).\n"
    "\n"
    "  --root DIR       content folder (default: the installed sample wiki,\n"
    "                   <prefix>/share/versewell/wiki)\n"
    "  --port N         port to listen on; 0, the default, picks a free one\n"
    "  --log            one line per request on standard error\n"
    "  --tls-cert FILE  with --tls-key: also speak HTTPS on the same port\n"
    "  --tls-key FILE\n"
    "  --stall-accept   never accept a connection (a server that does not answer)\n"
    "  -h, --help       print this help and exit\n"
    "\n"
    "Prints \"listening on 127.0.0.1:PORT\" once it accepts connections. SIGINT or\n"
    "SIGTERM stop it (exit status 0). Exit status 2: a usage error or an unusable\n"
    "content folder; 1: the port cannot be bound.\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "versewell-wiki: %s\nusage: versewell-wiki [--root DIR] [--port N] [--log] (see --help)\n",
               why.c_str());
  return 2;
}

// The installed sample content beside the program, else the source tree's.
std::string DefaultRoot() {
  char self[4097];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string exe(self, static_cast<size_t>(n));
    std::string bin = exe.substr(0, exe.rfind('/'));
    std::string installed = bin.substr(0, bin.rfind('/')) + "/" VERSEWELL_WIKI_DATADIR "/versewell/wiki";
    struct stat st {};
    if (stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return installed;
    struct stat source {};
    if (stat(VERSEWELL_WIKI_SOURCE_SAMPLE, &source) == 0 && S_ISDIR(source.st_mode)) return VERSEWELL_WIKI_SOURCE_SAMPLE;
    return installed;
  }
  return VERSEWELL_WIKI_SOURCE_SAMPLE;
}

// Reads one request and answers it. A CONNECT (when TLS is configured, and
// not inside a tunnel already) is answered with 200, and the request that
// follows inside the tunnel is served over TLS.
void ServeRequest(wiki::CHttpConnection& connection, const wiki::CContentSite* site) {
  wiki::WikiRequest request;
  int status = 0;
  if (!connection.ReadRequest(request, status)) {
    if (status != 0) connection.SendResponse(status, "text/plain", std::string(wiki::ReasonPhrase(status)) + "\n");
    return;
  }
  if (g_log)
    std::fprintf(stderr, "versewell-wiki: %s %s%s\n", request.method.c_str(), request.target.c_str(),
                 connection.IsTls() ? " (tls)" : "");
  if (request.method == "CONNECT") {
    if (g_pTls == nullptr || connection.IsTls()) {
      connection.SendResponse(400, "text/plain", std::string(wiki::ReasonPhrase(400)) + "\n");
      return;
    }
    if (connection.Send("HTTP/1.1 200 Connection established\r\n\r\n") && connection.StartTls(*g_pTls))
      ServeRequest(connection, site);
    return;
  }
  if (request.path.compare(0, std::strlen(wiki::TEST_PREFIX), wiki::TEST_PREFIX) == 0)
    wiki::ServeTestMode(request, connection);
  else
    site->Serve(request, connection);
}

// Connects to the listener until a connection attempt stays unanswered: the
// accept queue is then full, and every later client waits in connect. The
// sockets stay open for the server's lifetime.
void FillAcceptQueue(const sockaddr_in& addr) {
  for (int i = 0; i < 64; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) continue;
    if (errno != EINPROGRESS) {
      close(fd);
      return;
    }
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 200) == 0) return;  // this one is stuck: the queue is full
  }
}

void ServeConnection(int fd, const wiki::CContentSite* site) {
  {
    wiki::CHttpConnection connection(fd, g_stopping);
    if (g_pTls == nullptr || !connection.StartsWithTlsHandshake() || connection.StartTls(*g_pTls))
      ServeRequest(connection, site);
  }
  std::lock_guard<std::mutex> lock(g_activeMutex);
  --g_active;
  g_activeChanged.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  std::string tlsCert;
  std::string tlsKey;
  long port = 0;
  bool stallAccept = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else if (arg == "--port" && i + 1 < argc) {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (end == nullptr || *end != '\0' || argv[i][0] == '\0' || port < 0 || port > 65535)
        return Usage(std::string("--port wants a number from 0 to 65535, got \"") + argv[i] + "\"");
    } else if (arg == "--log") {
      g_log = true;
    } else if (arg == "--stall-accept") {
      stallAccept = true;
    } else if (arg == "--tls-cert" && i + 1 < argc) {
      tlsCert = argv[++i];
    } else if (arg == "--tls-key" && i + 1 < argc) {
      tlsKey = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (arg == "--root" || arg == "--port" || arg == "--tls-cert" || arg == "--tls-key") {
      return Usage(arg + " needs a value");
    } else {
      return Usage("unknown argument \"" + arg + "\"");
    }
  }
  const bool rootGiven = !root.empty();
  if (!rootGiven) root = DefaultRoot();
  struct stat st {};
  if (stat(root.c_str(), &st) != 0) {
    std::string reason = std::strerror(errno);
    return Usage(rootGiven ? "--root " + root + ": " + reason
                           : "no --root given, and the sample content " + root + " is missing: " + reason);
  }
  if (!S_ISDIR(st.st_mode)) return Usage("--root " + root + " is not a folder");
  if (access(root.c_str(), R_OK | X_OK) != 0) return Usage("--root " + root + ": " + std::strerror(errno));
  if (tlsCert.empty() != tlsKey.empty()) return Usage("--tls-cert and --tls-key go together");
  wiki::CTlsContext tls;
  if (!tlsCert.empty()) {
    std::string error;
    if (!tls.Load(tlsCert, tlsKey, error)) return Usage("cannot load the TLS certificate: " + error);
    g_pTls = &tls;
  }

  if (pipe(g_signalPipe) != 0) return 1;
  fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return 1;
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, stallAccept ? 0 : 128) != 0) {
    std::fprintf(stderr, "versewell-wiki: cannot listen on 127.0.0.1:%ld: %s\n", port, std::strerror(errno));
    return 1;
  }
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  if (stallAccept) FillAcceptQueue(addr);
  std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(ntohs(addr.sin_port)));
  std::fflush(stdout);

  const wiki::CContentSite site(root);
  for (;;) {
    // Stalling, the listener is not watched: only the stop signal ends the wait.
    pollfd fds[2] = {{listener, static_cast<short>(stallAccept ? 0 : POLLIN), 0}, {g_signalPipe[0], POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(g_activeMutex);
      ++g_active;
    }
    try {
      std::thread(ServeConnection, fd, &site).detach();
    } catch (...) {
      close(fd);
      std::lock_guard<std::mutex> lock(g_activeMutex);
      --g_active;
    }
  }

  g_stopping = true;
  close(listener);
  std::unique_lock<std::mutex> lock(g_activeMutex);
  if (!g_activeChanged.wait_for(lock, std::chrono::seconds(5), [] { return g_active == 0; })) {
    std::fflush(stdout);
    _exit(0);  // a client that never reads keeps its thread; do not tear statics down under it
  }
  return 0;
}

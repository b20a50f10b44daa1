// posix start and stop of CWikiServer: posix_spawn with the server's
// standard output on a pipe (its "listening on" line) and its --log output in
// a temporary file; SIGTERM, then SIGKILL, to stop it.
#include "support/WikiServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr int START_TIMEOUT_MS = 10000;
constexpr int STOP_TIMEOUT_MS = 5000;

}  // namespace

void CWikiServer::Start(const SWikiServerOptions& options) {
  std::string folder = options.root;
  if (folder.empty()) {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/versewell-wiki-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("CWikiServer: mkdtemp failed");
    m_ownRoot = folder = buf.data();
  }
  {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/versewell-wiki-log-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) throw std::runtime_error("CWikiServer: mkstemp failed");
    close(fd);
    m_logFile = buf.data();
  }

  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("CWikiServer: pipe failed");
  std::string program = ProgramPath();
  std::vector<std::string> args = {program, "--root", folder, "--port", "0"};
  for (std::string& option : WikiServerOptionArguments(options, [](const std::string& path) { return path; }))
    args.push_back(std::move(option));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  // Built before fork: the child only calls async-signal-safe functions.
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The server dies with the test process, however that ends (a crash, a
    // time-out's SIGKILL), so that no server outlives a failed run.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (dup2(fds[1], 1) < 0) _exit(127);
    close(fds[0]);
    close(fds[1]);
    const int log = open(m_logFile.c_str(), O_WRONLY | O_APPEND);
    if (log < 0 || dup2(log, 2) < 0) _exit(127);
    close(log);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    throw std::runtime_error("CWikiServer: cannot start " + program);
  }
  m_pid = pid;
  m_stdout = fds[0];

  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{m_stdout, POLLIN, 0};
    int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (r < 0 && errno == EINTR) continue;
    char c;
    if (r <= 0 || read(m_stdout, &c, 1) != 1) break;
    line += c;
  }
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.compare(0, prefix.size(), prefix) == 0) m_port = atoi(line.c_str() + prefix.size());
  if (m_port <= 0) {
    std::ifstream error(m_logFile);
    std::string text((std::istreambuf_iterator<char>(error)), std::istreambuf_iterator<char>());
    Stop();
    throw std::runtime_error("CWikiServer: the server did not start: " + line + text);
  }
}

void CWikiServer::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(STOP_TIMEOUT_MS);
    int status = 0;
    for (;;) {
      pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid || (r < 0 && errno != EINTR)) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
  }
  if (m_stdout >= 0) {
    close(m_stdout);
    m_stdout = -1;
  }
  if (!m_ownRoot.empty()) {
    rmdir(m_ownRoot.c_str());
    m_ownRoot.clear();
  }
  if (!m_logFile.empty()) {
    unlink(m_logFile.c_str());
    m_logFile.clear();
  }
}

// posix backend of support/ChildProcess.h: fork, then execute this program
// (/proc/self/exe) again with the child marker, its standard output a pipe.
#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/ChildProcessMarker.h"

CChildProcess::CChildProcess(const std::string& role, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    std::perror("CChildProcess: pipe2");
    return;
  }
  // Built before fork: the child only calls async-signal-safe functions.
  std::vector<std::string> all = {"versewell-test-child", CHILD_MARKER, role};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("CChildProcess: fork");
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  if (child == 0) {
    // The child dies with the test process, however that ends (a crash, a
    // time-out's SIGKILL), so that none outlives a failed run.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(125);
    if (::dup2(fds[1], 1) < 0) ::_exit(125);  // dup2 clears close-on-exec
    ::execv("/proc/self/exe", argv.data());
    ::_exit(125);
  }
  ::close(fds[1]);
  m_nProcess = child;
  m_nPipe = fds[0];
  m_bStarted = true;
}

CChildProcess::~CChildProcess() {
  if (m_bStarted && !m_bReaped) {
    Kill();
    Wait();
  }
  if (m_nPipe >= 0) ::close(static_cast<int>(m_nPipe));
}

bool CChildProcess::ReadExactly(void* buffer, size_t size) {
  if (m_nPipe < 0) return false;
  char* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::read(static_cast<int>(m_nPipe), out, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void CChildProcess::Kill() {
  if (m_bStarted && !m_bReaped) ::kill(static_cast<pid_t>(m_nProcess), SIGKILL);
}

CChildExit CChildProcess::Wait() {
  if (!m_bStarted || m_bReaped) return m_exit;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(static_cast<pid_t>(m_nProcess), &status, 0);
  } while (done < 0 && errno == EINTR);
  m_bReaped = true;
  if (done < 0) return m_exit;
  m_exit.bKilled = WIFSIGNALED(status);
  m_exit.nCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m_exit;
}

bool WriteToParent(const void* data, size_t size) {
  const char* in = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(1, in, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    in += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

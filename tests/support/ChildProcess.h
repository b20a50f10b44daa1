// Starting this test program again as a child process running one "role",
// for tests that need a second process: writers killed at random moments,
// two processes sharing a file, a process that exits with the plug-in
// loaded. The posix build forks and executes this program again; the
// Windows build re-runs its .exe with CreateProcessW. Either way the child
// starts fresh and runs only its role function.
//
// A program that starts children links tests/support/ChildMain.cpp instead
// of gtest_main: that main runs the role named on the command line, or the
// tests when there is none. Roles are registered with VW_CHILD_ROLE in the
// test file itself (not in a library, so the registration is linked).
//
// The child's standard output is a pipe to the parent (WriteToParent in the
// child, ReadExactly in the parent); its standard error stays the test's.
// One thread owns a CChildProcess; the destructor kills and reaps a child
// still running, so a failed assertion never leaves one behind.
#ifndef VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_H
#define VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_H

#include <cstddef>
#include <string>
#include <vector>

// A role: the child's arguments (UTF-8) in, its exit code out.
typedef int (*ChildRoleFunction)(const std::vector<std::string>& args);

// Registers a role under `name` (at static initialisation).
class CChildRole {
 public:
  CChildRole(const char* name, ChildRoleFunction function);
};

#define VW_CHILD_ROLE(name)                                      \
  static int name(const std::vector<std::string>& args);        \
  static const CChildRole g_childRole_##name(#name, name);      \
  static int name(const std::vector<std::string>& args)

// How a child ended.
struct CChildExit {
  bool bKilled = false;  // ended by Kill (or by a signal on posix)
  int nCode = -1;        // exit code when not killed
};

class CChildProcess {
 public:
  // Starts this program running `role` with `args`. Started() tells whether
  // it did; the reason is written to standard error.
  CChildProcess(const std::string& role, const std::vector<std::string>& args);
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  bool Started() const { return m_bStarted; }
  // Reads exactly `size` bytes the child wrote; false at the end of its
  // output before that many arrived (a cut-off write counts as missing).
  bool ReadExactly(void* buffer, size_t size);
  // Ends the child at once, wherever it is (SIGKILL, TerminateProcess).
  void Kill();
  // Waits for the child to end and tells how.
  CChildExit Wait();

 private:
  bool m_bStarted = false;
  bool m_bReaped = false;
  CChildExit m_exit;
  // Backend handles: process id or handle, and the read end of the pipe.
  long long m_nProcess = -1;
  long long m_nPipe = -1;
};

// In a child: writes to the parent's pipe, all or nothing from the
// caller's view (false when the pipe is gone).
bool WriteToParent(const void* data, size_t size);

// This program's arguments as UTF-8 (the Windows build reads the wide
// command line, so non-ASCII paths survive). Used by ChildMain.cpp.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Runs the role `args[2]` with the rest of `args` when `args[1]` is the
// child marker; returns false when this is not a child.
bool RunChildRole(const std::vector<std::string>& args, int& exitCode);

#endif  // VERSEWELL_TESTS_SUPPORT_CHILD_PROCESS_H

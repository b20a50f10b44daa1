// The command-line program proper, shared by the platform entry points
// (cli/sys/posix/Entry.cpp: main; cli/sys/win32/Entry.cpp: wmain). The entry point
// prepares the process (on Windows: UTF-16 arguments to UTF-8, binary
// standard streams) and hands over the UTF-8 arguments.
//
// Returns the exit code: 0 found, 1 not on the wiki, 2 usage error or
// plug-in not loadable, 3 network or server failure, 70 internal error,
// 130 interrupted.
// Threads: the main thread.
#ifndef VERSEWELL_CLI_PROGRAM_H
#define VERSEWELL_CLI_PROGRAM_H

#include <functional>

namespace cli {

int RunProgram(int argc, char** argv);

// Runs `body` and returns its exit code. The program's own faults that
// escape it (out of memory, an unexpected exception) become EXIT_INTERNAL
// with one "versewell: internal error: ..." line on stderr, and with `json`
// also an "internal" JSON error object on stdout.
int RunGuarded(const std::function<int()>& body, bool json);

}  // namespace cli

#endif  // VERSEWELL_CLI_PROGRAM_H

// Helpers for test support code that runs under Wine and starts native
// Linux programs (the wiki server, the openssl command line).
// Implemented in tests/support/win32/WikiServer.cpp. Throw
// std::runtime_error when not running under Wine.
#ifndef VERSEWELL_TESTS_SUPPORT_WIN32_WINE_HOST_H
#define VERSEWELL_TESTS_SUPPORT_WIN32_WINE_HOST_H

#include <string>

// The Linux path of a Windows path (UTF-8 in, UTF-8 out); a path that is
// already a Linux one comes back as it is.
std::string WineUnixPath(const std::string& path);

// Starts `commandLine` (UTF-8, "Z:\\bin\\sh ..." and its arguments) as a
// native Linux program and returns at once; false when Wine could not start
// it. No handle of it is returned or closed: Wine starts a Linux program
// without a Windows process, and its CreateProcessW then reports success
// with PROCESS_INFORMATION's handles left as whatever its own stack held
// (Wine 8's NtCreateUserProcess returns early for a file that is not a PE
// image, without writing them). Those values can name any live handle of
// this process; closing them once closed kernelbase's cached
// \Sessions\N\BaseNamedObjects directory, and every later "Local\" object
// name (the INI module's file locks) failed with ERROR_PATH_NOT_FOUND.
bool StartNativeProgram(const std::string& commandLine);

#endif  // VERSEWELL_TESTS_SUPPORT_WIN32_WINE_HOST_H

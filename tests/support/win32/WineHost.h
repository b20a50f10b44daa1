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

#endif  // VERSEWELL_TESTS_SUPPORT_WIN32_WINE_HOST_H

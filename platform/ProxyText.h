// The named proxy text of a WinHTTP session, read as WinHTTP reads it and
// turned into the proxy address libcurl takes.
//
// Accepted: an optional "http://" prefix, then "host", "host:port" or
// "[IPv6]:port" ("[IPv6]" alone too); a proxy list (entries separated by
// ';' or blanks, "http=a:1;b:2") gives its "http=" entry, else its first
// entry without a scheme prefix. A proxy without a port is port 80, as
// WinHTTP takes it (libcurl alone would pick 1080). Refused: an empty host,
// a port that is not a decimal number from 1 to 65535, a host with
// characters no host name or address has, and control characters other
// than the tab; the caller then fails the session instead of going direct.
//
// Pure functions; any thread may call them.
#ifndef VERSEWELL_PLATFORM_POSIX_PROXY_TEXT_H
#define VERSEWELL_PLATFORM_POSIX_PROXY_TEXT_H

#include <string>

namespace platform {

// On success `proxyUrl` is "http://host:port" or "http://[IPv6]:port".
bool ParseNamedProxy(const std::string& text, std::string& proxyUrl);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_PROXY_TEXT_H

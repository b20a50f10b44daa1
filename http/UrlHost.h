// The URL splitter behind UrlGetHost (the InternetCrackUrlW stand-in): our
// own RFC 3986 parse of the host component, the same on every platform.
//
// Pure function, any thread may call it.
#ifndef VERSEWELL_HTTP_URL_HOST_H
#define VERSEWELL_HTTP_URL_HOST_H

#include <string>

#include "platform/Types.h"

// Splits `url` ("scheme:" then, optionally, "//" authority ...) and gives
// the host of the authority: user information ("...@") and port (":...")
// removed, an IP literal kept with its brackets, %XX escapes decoded (a run
// of escapes is read as UTF-8). A URL without authority has an empty host.
// Fails with ERROR_WINHTTP_UNRECOGNIZED_SCHEME (12006) when the text does
// not begin with a valid scheme, and with ERROR_WINHTTP_INVALID_URL (12005)
// for an unterminated IP literal.
bool CrackUrlHost(const std::wstring& url, std::wstring& host, DWORD& error);

#endif  // VERSEWELL_HTTP_URL_HOST_H

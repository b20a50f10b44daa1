// The download front end: one download with a fresh random browser agent
// (HttpDownload), the agent's generator, and the host-name helpers that feed
// the host's ignore list. CCommonDllInterface::Download (plugin/Download.cpp)
// is the one caller inside the plug-in.
//
// Failure: HttpDownload returns 0 and writes the "Download fails: " line;
// UrlGetHost returns an empty name and writes a trace line. The narrow/wide
// converters may raise (out of memory, conversion error); nothing here
// catches that.
// Threads: no shared state; the random generator keeps its state per thread
// and is reseeded at every RandomNumber call.
#ifndef VERSEWELL_HTTP_DOWNLOAD_FRONT_END_H
#define VERSEWELL_HTTP_DOWNLOAD_FRONT_END_H

#include <versewell/cstring.h>

#include "platform/Types.h"

// Fetches `url` (host followed by path, or a full URL) through `proxy`
// ("" or blanks: the system's setting) and decodes the body with
// `codePage` (0: the thread's ANSI code page). An empty `userAgent` is
// replaced by MakeRandomUserAgent(). 1 on success, 0 on failure.
int HttpDownload(const CString& url, CString& body, const CString& proxy, UINT codePage, const CString& referrer,
                 CString userAgent);

// "Mozilla/4.0 (compatible; MSIE ...)" with randomly drawn pieces.
CString MakeRandomUserAgent();

// Reseeds the generator from the high-resolution counter, then draws:
// the draw modulo n when n > 0, else the draw (0 to 32767).
int RandomNumber(int n);

// The runtime generator's stand-ins: the classic linear congruential
// generator (0 to 32767), one state per thread.
void SeedRandom(unsigned int seed);
int DrawRandom();

// `url` unchanged when it contains "://", else scheme + "://" + url.
CString UrlAddScheme(const CString& url, const CString& scheme);

// The host component of `url` (RFC 3986: without user information and port,
// escapes decoded); empty for an empty url or when the url cannot be split.
CString UrlGetHost(const CString& url);

#endif  // VERSEWELL_HTTP_DOWNLOAD_FRONT_END_H

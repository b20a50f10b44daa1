// Mapping of libcurl results onto WinHTTP error codes, and the wire-text
// rules of the libcurl transport (percent-encoding of the request target,
// control characters that may never reach a request).
//
// Pure functions, no libcurl types in the interface (tests include this
// header); any thread may call them.
#ifndef VERSEWELL_PLATFORM_POSIX_CURL_ERROR_MAP_H
#define VERSEWELL_PLATFORM_POSIX_CURL_ERROR_MAP_H

#include <string>

#include "platform/RequestTarget.h"
#include "platform/Types.h"

namespace platform {

// The WinHTTP (or Windows) error code for the CURLcode `curlCode`.
// `responseHeadSeen` tells whether a response status line had arrived when
// the transfer failed: an unsupported protocol is then a refused redirect
// (12156), before any head an HTTP/0.9 answer (12152).
DWORD WinHttpErrorFromCurl(int curlCode, bool responseHeadSeen);


// True when `text` holds a CR, LF or NUL.
bool HasLineBreakOrNul(const std::wstring& text);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_POSIX_CURL_ERROR_MAP_H

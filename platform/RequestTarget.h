// The percent-encoding of a request target, shared by the transports so that
// every backend puts the same bytes on the wire. Pure; any thread may call it.
#ifndef VERSEWELL_PLATFORM_REQUEST_TARGET_H
#define VERSEWELL_PLATFORM_REQUEST_TARGET_H

#include <string>

namespace platform {

// Percent-encodes what may not stand in a request target, as WinHTTP does
// by default: blanks, controls, bytes >= 0x7F and " < > # [ ] { } | \ ^ `.
// An existing %XX escape is kept as it is (never encoded twice); a '%' that
// starts no escape becomes %25. Everything else, & = + ? / included, stays.
std::string EncodeRequestTarget(const std::string& utf8);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_REQUEST_TARGET_H

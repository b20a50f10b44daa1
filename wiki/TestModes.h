// Bad-server modes of the test wiki under the reserved prefix /_test/: error
// statuses, redirect chains, chunked, trickled, truncated and oversized
// bodies, odd header sets and an echo of the request as it reached the wire.
// The modes and their parameters are listed in wiki/CONTENT-FORMAT.md.
//
// Every mode is bounded: sizes are capped, pauses end when the server stops.
// Any thread may call ServeTestMode concurrently.
#ifndef VERSEWELL_WIKI_TEST_MODES_H
#define VERSEWELL_WIKI_TEST_MODES_H

#include <string>

#include "wiki/HttpConnection.h"

namespace wiki {

constexpr const char* TEST_PREFIX = "/_test/";

// Answers a request whose path begins with TEST_PREFIX.
void ServeTestMode(const WikiRequest& request, CHttpConnection& connection);

// Byte i of every generated body: 'a' + i % 26.
std::string GeneratedBody(size_t size);

}  // namespace wiki

#endif  // VERSEWELL_WIKI_TEST_MODES_H

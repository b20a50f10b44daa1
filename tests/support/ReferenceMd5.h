// A plain MD5 (RFC 1321) written apart from the product's CMD5Checksum, as
// the oracle of the digest tests on every platform. Pure function; any
// thread may call it.
#ifndef VERSEWELL_TESTS_SUPPORT_REFERENCE_MD5_H
#define VERSEWELL_TESTS_SUPPORT_REFERENCE_MD5_H

#include <string>

// The digest of `bytes` as 32 lower-case hex digits.
std::string ReferenceMd5(const std::string& bytes);

#endif  // VERSEWELL_TESTS_SUPPORT_REFERENCE_MD5_H

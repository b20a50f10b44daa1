// UTF-8 to wide text and back, by hand: the one codec every backend uses for
// code page 65001, so the results are the same everywhere (Kernel32's own
// UTF-8 handling differs between Windows versions and Wine).
//
// Wide text is UTF-32 where wchar_t is 4 bytes and UTF-16 where it is 2: a
// code point above U+FFFF then becomes a surrogate pair, and on encoding a
// high surrogate followed by a low one counts as the pair's code point on
// both. Pure functions; any thread may call them.
#ifndef VERSEWELL_PLATFORM_UTF8_CODEC_H
#define VERSEWELL_PLATFORM_UTF8_CODEC_H

#include <cstddef>
#include <cstdint>

namespace platform {

enum class Utf8Outcome { kOk, kInvalid, kOverflow, kNoMemory, kBadCodePage };

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes [p, end). With a null `out` only counts. Each maximal subpart of
// an ill-formed sequence (Unicode 3.9, the W3C/WHATWG practice) becomes one
// U+FFFD, or fails the call when `failOnInvalid`. `produced` receives the
// wide units written (or needed).
Utf8Outcome DecodeUtf8(const unsigned char* p, const unsigned char* end, bool failOnInvalid, wchar_t* out,
                       size_t capacity, size_t& produced);

// Encodes [p, end) of wide characters. A surrogate pair becomes its code
// point; a lone surrogate or a value beyond U+10FFFF is invalid (U+FFFD, or a
// failure when `failOnInvalid`).
Utf8Outcome EncodeUtf8(const wchar_t* p, const wchar_t* end, bool failOnInvalid, char* out, size_t capacity,
                       size_t& produced);

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_UTF8_CODEC_H

// The shared UTF-8 codec (platform/Utf8Codec.h).
#include "platform/Utf8Codec.h"

#include <cstring>

namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

}  // namespace

// Decodes [p, end). With a null `out` only counts. Each maximal subpart of
// an ill-formed sequence (Unicode 3.9, the W3C/WHATWG practice) becomes one
// U+FFFD, or fails the call when `failOnInvalid`.
Utf8Outcome DecodeUtf8(const unsigned char* p, const unsigned char* end, bool failOnInvalid, wchar_t* out, size_t capacity,
                   size_t& produced) {
  size_t n = 0;
  auto emit = [&](uint32_t cp) -> bool {
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {  // UTF-16: a surrogate pair
      if (out != nullptr) {
        if (capacity - n < 2) return false;
        cp -= 0x10000;
        out[n] = static_cast<wchar_t>(0xD800 + (cp >> 10));
        out[n + 1] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      }
      n += 2;
      return true;
    }
    if (out != nullptr) {
      if (n >= capacity) return false;
      out[n] = static_cast<wchar_t>(cp);
    }
    ++n;
    return true;
  };
  while (p < end) {
    // Runs of ASCII, eight bytes at a time: page text is mostly ASCII.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) != 0) break;
      if (out != nullptr) {
        if (capacity - n < 8) break;
        for (int k = 0; k < 8; ++k) out[n + k] = static_cast<wchar_t>(p[k]);
      }
      n += 8;
      p += 8;
    }
    if (p >= end) break;
    unsigned b = *p;
    if (b < 0x80) {
      if (!emit(b)) return Utf8Outcome::kOverflow;
      ++p;
      continue;
    }
    int need;
    unsigned lo = 0x80, hi = 0xBF;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      if (failOnInvalid) return Utf8Outcome::kInvalid;
      if (!emit(kReplacement)) return Utf8Outcome::kOverflow;
      ++p;
      continue;
    }
    const unsigned char* q = p + 1;
    bool ok = true;
    for (int i = 0; i < need; ++i) {
      if (q == end || *q < lo || *q > hi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (*q & 0x3Fu);
      ++q;
      lo = 0x80;
      hi = 0xBF;
    }
    if (!ok) {
      if (failOnInvalid) return Utf8Outcome::kInvalid;
      cp = kReplacement;
    }
    if (!emit(cp)) return Utf8Outcome::kOverflow;
    p = q;
  }
  produced = n;
  return Utf8Outcome::kOk;
}

// Encodes [p, end) of wide characters. A surrogate pair becomes its code
// point; a lone surrogate or a value beyond U+10FFFF is invalid (U+FFFD, or a
// failure when `failOnInvalid`).
Utf8Outcome EncodeUtf8(const wchar_t* p, const wchar_t* end, bool failOnInvalid, char* out, size_t capacity,
                   size_t& produced) {
  size_t n = 0;
  while (p < end) {
    uint32_t u = static_cast<uint32_t>(*p++);
    if (IsHighSurrogate(u) && p < end && IsLowSurrogate(static_cast<uint32_t>(*p))) {
      u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint32_t>(*p++) - 0xDC00);
    } else if ((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF) {
      if (failOnInvalid) return Utf8Outcome::kInvalid;
      u = kReplacement;
    }
    unsigned char bytes[4];
    size_t len;
    if (u < 0x80) {
      bytes[0] = static_cast<unsigned char>(u);
      len = 1;
    } else if (u < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
      bytes[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      len = 2;
    } else if (u < 0x10000) {
      bytes[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
      bytes[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      len = 3;
    } else {
      bytes[0] = static_cast<unsigned char>(0xF0 | (u >> 18));
      bytes[1] = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      bytes[3] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      len = 4;
    }
    if (out != nullptr) {
      if (capacity - n < len) return Utf8Outcome::kOverflow;
      std::memcpy(out + n, bytes, len);
    }
    n += len;
  }
  produced = n;
  return Utf8Outcome::kOk;
}

}  // namespace platform

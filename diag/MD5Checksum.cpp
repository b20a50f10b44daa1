#include "diag/MD5Checksum.h"

#include <cstring>

namespace {

// Per-round shift amounts and the sine-derived constants T[1..64].
const uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t RotateLeft(uint32_t x, uint32_t n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

CMD5Checksum::CMD5Checksum() { Reset(); }

void CMD5Checksum::Reset() {
  std::memset(m_lpszBuffer, 0, sizeof m_lpszBuffer);
  m_nCount[0] = m_nCount[1] = 0;
  m_lMD5[0] = 0x67452301;
  m_lMD5[1] = 0xefcdab89;
  m_lMD5[2] = 0x98badcfe;
  m_lMD5[3] = 0x10325476;
}

void CMD5Checksum::Transform(const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = static_cast<uint32_t>(block[4 * i]) | (static_cast<uint32_t>(block[4 * i + 1]) << 8) |
           (static_cast<uint32_t>(block[4 * i + 2]) << 16) | (static_cast<uint32_t>(block[4 * i + 3]) << 24);
  uint32_t a = m_lMD5[0], b = m_lMD5[1], c = m_lMD5[2], d = m_lMD5[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int k;
    if (i < 16) {
      f = (b & c) | (~b & d);  // F
      k = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);  // G
      k = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;  // H
      k = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);  // I
      k = (7 * i) % 16;
    }
    uint32_t next = b + RotateLeft(a + f + x[k] + kSine[i], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  m_lMD5[0] += a;
  m_lMD5[1] += b;
  m_lMD5[2] += c;
  m_lMD5[3] += d;
}

void CMD5Checksum::Update(const unsigned char* input, size_t length) {
  if (input == nullptr || length == 0) return;
  size_t index = (m_nCount[0] >> 3) & 0x3F;
  // The bit count is 64 bits wide and wraps, as RFC 1321 has it.
  uint64_t bits = (static_cast<uint64_t>(m_nCount[1]) << 32 | m_nCount[0]) + (static_cast<uint64_t>(length) << 3);
  m_nCount[0] = static_cast<uint32_t>(bits);
  m_nCount[1] = static_cast<uint32_t>(bits >> 32);

  size_t room = 64 - index;
  size_t i = 0;
  if (length >= room) {
    std::memcpy(m_lpszBuffer + index, input, room);
    Transform(m_lpszBuffer);
    for (i = room; i + 63 < length; i += 64) Transform(input + i);
    index = 0;
  }
  std::memcpy(m_lpszBuffer + index, input + i, length - i);
}

CString CMD5Checksum::Final() {
  unsigned char bits[8];
  for (int i = 0; i < 4; ++i) {
    bits[i] = static_cast<unsigned char>(m_nCount[0] >> (8 * i));
    bits[4 + i] = static_cast<unsigned char>(m_nCount[1] >> (8 * i));
  }
  // Pad with 0x80 and zeros to 56 bytes modulo 64, then append the count.
  static const unsigned char kPadding[64] = {0x80};
  size_t index = (m_nCount[0] >> 3) & 0x3F;
  size_t padLength = index < 56 ? 56 - index : 120 - index;
  Update(kPadding, padLength);
  Update(bits, 8);

  static const wchar_t kHex[] = L"0123456789abcdef";
  CString digest;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      unsigned byte = (m_lMD5[i] >> (8 * j)) & 0xFF;
      digest += kHex[byte >> 4];
      digest += kHex[byte & 0xF];
    }
  }
  Reset();
  return digest;
}

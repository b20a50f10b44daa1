// Straight from the algorithm's description: the whole message is padded in
// memory first, then each 64-byte block goes through the four rounds. Slow
// and simple on purpose.
#include "support/ReferenceMd5.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

std::string ReferenceMd5(const std::string& bytes) {
  static const int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  uint32_t sines[64];
  for (int i = 0; i < 64; ++i) sines[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));

  std::string message = bytes;
  const uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
  message += static_cast<char>(0x80);
  while (message.size() % 64 != 56) message += '\0';
  for (int k = 0; k < 8; ++k) message += static_cast<char>((bitLength >> (8 * k)) & 0xFF);

  uint32_t h[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
  for (size_t block = 0; block < message.size(); block += 64) {
    uint32_t m[16];
    for (int w = 0; w < 16; ++w) {
      m[w] = 0;
      for (int b = 3; b >= 0; --b) m[w] = (m[w] << 8) | static_cast<unsigned char>(message[block + 4 * w + b]);
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      const uint32_t next = b + Rotate(a + f + sines[i] + m[g], SHIFTS[i / 16][i % 4]);
      a = d;
      d = c;
      c = b;
      b = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  std::string hex;
  char digits[3];
  for (uint32_t word : h)
    for (int k = 0; k < 4; ++k) {
      std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>((word >> (8 * k)) & 0xFF));
      hex += digits;
    }
  return hex;
}

// CMD5Checksum: an MD5 context (RFC 1321). Feed bytes with Update, any
// number of times and in any chunk sizes, then Final gives the digest as 32
// lower-case hexadecimal digits and resets the context for a new message.
//
// Failure: nothing here fails or throws except the allocation of the
// returned string. Threads: one context belongs to one thread at a time.
#ifndef VERSEWELL_DIAG_MD5_CHECKSUM_H
#define VERSEWELL_DIAG_MD5_CHECKSUM_H

#include <cstddef>
#include <cstdint>

#include <versewell/cstring.h>

class CMD5Checksum {
 public:
  CMD5Checksum();
  virtual ~CMD5Checksum() = default;

  void Update(const unsigned char* input, size_t length);
  // Completes the digest as RFC 1321 prescribes (padding and the 64-bit bit
  // count), formats the 16 digest bytes in order, two digits each, and
  // starts a new message.
  CString Final();

 private:
  void Reset();
  void Transform(const unsigned char block[64]);

  unsigned char m_lpszBuffer[64];  // the block being filled
  uint32_t m_nCount[2];            // bits fed so far, low word first
  uint32_t m_lMD5[4];              // state A, B, C, D
};

#endif  // VERSEWELL_DIAG_MD5_CHECKSUM_H

// CUtf8StreamDecoder and the block decoder it shares with ConvertBytesToWide.
//
// Where a piece may be cut: the codec starts a new sequence at every byte
// that is not a continuation byte (10xxxxxx), and after three continuation
// bytes in a row (a sequence holds at most three). Decoding up to such a
// point on its own gives what decoding the whole text gives up to there,
// because no sequence reaches across it. So each piece is decoded up to its
// last such point, and only a lead byte among the last three bytes, with
// the continuation bytes after it, waits for the next piece.
#include "text/Utf8StreamDecoder.h"

#include <cstring>
#include <new>

#include "platform/Utf8Codec.h"
#include "text/NarrowMessage.h"

namespace {

bool IsContinuationByte(unsigned char b) { return b >= 0x80 && b <= 0xBF; }
// A byte that opens a sequence of two to four bytes.
bool IsLeadByte(unsigned char b) { return b >= 0xC2 && b <= 0xF4; }

}  // namespace

// Blocks end just before a byte that no sequence can continue, so that a
// block's output always fits the block and decoding block by block gives
// what one call over the whole text gives.
void AppendUtf8Text(const unsigned char* p, size_t length, std::wstring& out) {
  constexpr size_t BLOCK = 4096;
  wchar_t block[BLOCK];
  const unsigned char* const end = p + length;
  while (p < end) {
    // BLOCK / 2 bytes at most, so a block's output always fits, surrogate
    // pairs included.
    const unsigned char* cut = static_cast<size_t>(end - p) > BLOCK / 2 - 4 ? p + (BLOCK / 2 - 4) : end;
    for (int steps = 0; cut < end && steps < 3 && IsContinuationByte(*cut); ++steps) ++cut;
    size_t produced = 0;
    platform::DecodeUtf8(p, cut, false, block, BLOCK, produced);
    out.append(block, produced);
    p = cut;
  }
}

void CUtf8StreamDecoder::Reserve(size_t bytes) noexcept {
  if (m_bNoMemory) return;
  try {
    m_strText.reserve(m_strText.size() + bytes);
  } catch (const std::exception&) {
    m_bNoMemory = true;
  }
}

void CUtf8StreamDecoder::Append(const char* data, size_t size) noexcept {
  if (m_bEnded || m_bNoMemory || size == 0) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  const void* nul = std::memchr(p, 0, size);
  const bool last = nul != nullptr;
  if (last) size = static_cast<size_t>(static_cast<const unsigned char*>(nul) - p);
  Decode(p, size);
  if (last) {
    // The text ends here: a sequence still waiting is cut for good.
    Flush();
    m_bEnded = true;
  }
}

void CUtf8StreamDecoder::Flush() noexcept {
  if (m_nCarry == 0 || m_bNoMemory) return;
  try {
    AppendUtf8Text(m_szCarry, m_nCarry, m_strText);
  } catch (const std::exception&) {
    m_bNoMemory = true;
  }
  m_nCarry = 0;
}

void CUtf8StreamDecoder::Decode(const unsigned char* p, size_t size) noexcept {
  try {
    if (m_nCarry > 0) {
      // The continuation bytes that may complete the waiting sequence.
      size_t k = 0;
      while (k < size && m_nCarry + k < 4 && IsContinuationByte(p[k])) ++k;
      if (k == size && m_nCarry + k < 4) {
        std::memcpy(m_szCarry + m_nCarry, p, k);
        m_nCarry += k;
        return;
      }
      unsigned char unit[4];
      std::memcpy(unit, m_szCarry, m_nCarry);
      std::memcpy(unit + m_nCarry, p, k);
      const size_t unitSize = m_nCarry + k;
      m_nCarry = 0;
      AppendUtf8Text(unit, unitSize, m_strText);
      p += k;
      size -= k;
    }
    size_t keep = 0;
    for (size_t i = size; i > 0 && size - i < 3;) {
      --i;
      if (!IsContinuationByte(p[i])) {
        if (IsLeadByte(p[i])) keep = size - i;
        break;
      }
    }
    AppendUtf8Text(p, size - keep, m_strText);
    std::memcpy(m_szCarry, p + size - keep, keep);
    m_nCarry = keep;
  } catch (const std::exception&) {
    m_bNoMemory = true;
  }
}

std::wstring CUtf8StreamDecoder::Finish() {
  Flush();
  std::wstring text;
  if (m_bNoMemory)
    LogNarrowMessage(TEXT_REPORT_ERROR, "Malloc failed !!!");
  else
    text.swap(m_strText);
  m_strText = std::wstring();
  m_nCarry = 0;
  m_bEnded = false;
  m_bNoMemory = false;
  return text;
}

#include "cli/input/LineReader.h"

#include <cstring>

#include "cli/sys/TextConvert.h"

namespace cli {
namespace {

constexpr size_t CHUNK_BYTES = 65536;

}  // namespace

CLineReader::CLineReader(FRead read, size_t maxLineBytes) : m_read(std::move(read)), m_nMax(maxLineBytes) {}

void CLineReader::DecodeUtf16(const char* data, size_t size) {
  std::string raw = m_strRawCarry;
  raw.append(data, size);
  m_strRawCarry.clear();
  size_t i = 0;
  auto unit = [&](size_t at) {
    unsigned char a = static_cast<unsigned char>(raw[at]), b = static_cast<unsigned char>(raw[at + 1]);
    return m_eEncoding == EEncoding::Utf16Le ? static_cast<unsigned>(a | (b << 8)) : static_cast<unsigned>((a << 8) | b);
  };
  for (; i + 1 < raw.size(); i += 2) {
    unsigned u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 >= raw.size()) break;  // the low half comes with the next chunk
      unsigned low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(m_strPending, static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
      u = 0xFFFD;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(m_strPending, static_cast<char32_t>(u));
  }
  m_strRawCarry = raw.substr(i);
}

bool CLineReader::Fill() {
  if (m_bEnded) return false;
  char buffer[CHUNK_BYTES];
  long long n = m_read(buffer, sizeof buffer, m_strError);
  if (n <= 0) {
    m_bEnded = true;
    if (m_eEncoding == EEncoding::Unknown) m_strPending += m_strRawCarry;  // a one-byte list
    m_eEnd = n == 0 ? EStatus::End : n == -2 ? EStatus::Stopped : EStatus::Error;
    return false;
  }
  size_t size = static_cast<size_t>(n);
  const char* data = buffer;
  std::string head;
  if (m_eEncoding == EEncoding::Unknown) {
    // The first two bytes decide; they may come in two reads.
    head = m_strRawCarry + std::string(data, size);
    m_strRawCarry.clear();
    if (head.size() < 2) {
      m_strRawCarry = head;
      return true;
    }
    data = head.data();
    size = head.size();
    if (static_cast<unsigned char>(data[0]) == 0xFF && static_cast<unsigned char>(data[1]) == 0xFE) {
      m_eEncoding = EEncoding::Utf16Le;
      data += 2, size -= 2;
    } else if (static_cast<unsigned char>(data[0]) == 0xFE && static_cast<unsigned char>(data[1]) == 0xFF) {
      m_eEncoding = EEncoding::Utf16Be;
      data += 2, size -= 2;
    } else {
      m_eEncoding = EEncoding::Bytes;
    }
  }
  const size_t before = m_strPending.size();
  if (m_eEncoding == EEncoding::Bytes)
    m_strPending.append(data, size);
  else
    DecodeUtf16(data, size);
  if (std::memchr(m_strPending.data() + before, '\0', m_strPending.size() - before) != nullptr) {
    m_bEnded = true;
    m_eEnd = EStatus::Binary;
    return false;
  }
  return true;
}

CLineReader::EStatus CLineReader::Next(std::string& line) {
  line.clear();
  bool tooLong = false;
  for (;;) {
    size_t end = m_strPending.find('\n', m_nPos);
    if (end != std::string::npos) {
      if (!tooLong && end - m_nPos <= m_nMax) line.assign(m_strPending, m_nPos, end - m_nPos);
      else tooLong = true;
      m_nPos = end + 1;
      if (m_nPos >= CHUNK_BYTES) {
        m_strPending.erase(0, m_nPos);
        m_nPos = 0;
      }
      return tooLong ? EStatus::TooLong : EStatus::Line;
    }
    if (m_strPending.size() - m_nPos > m_nMax) {
      // Past the limit with no line break yet: drop what is here and keep
      // dropping until the break.
      tooLong = true;
      m_strPending.clear();
      m_nPos = 0;
    }
    if (m_nPos > 0) {
      m_strPending.erase(0, m_nPos);
      m_nPos = 0;
    }
    if (!Fill()) {
      if (m_eEnd == EStatus::Binary || m_eEnd == EStatus::Error || m_eEnd == EStatus::Stopped) return m_eEnd;
      if (tooLong) {
        m_strPending.clear();  // the rest of the over-long last line
        return EStatus::TooLong;
      }
      if (m_strPending.empty()) return EStatus::End;
      line.swap(m_strPending);  // a last line without a line feed
      m_nPos = 0;
      return EStatus::Line;
    }
  }
}

CLineReader::FRead ReadFromStream(std::istream& in) {
  return [&in](char* buffer, size_t size, std::string& error) -> long long {
    in.read(buffer, static_cast<std::streamsize>(size));
    std::streamsize got = in.gcount();
    if (got > 0) return got;
    if (in.bad()) {
      error = "read error";
      return -1;
    }
    return 0;
  };
}

}  // namespace cli

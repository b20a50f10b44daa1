// Reads a text list line by line with bounded memory, for `batch`.
//
// - A line longer than the limit is reported (TooLong) and skipped as soon
//   as it passes the limit: its remaining bytes are read and dropped, never
//   kept, so a list without line breaks (/dev/zero, a video) costs only the
//   buffer.
// - Input that starts with a UTF-16 byte-order mark (FF FE or FE FF) is
//   decoded to UTF-8; a UTF-8 byte-order mark is left for the caller.
// - Any other input holding a NUL byte is not a text list: Binary, at once,
//   as grep treats binary files.
// - A read error is Error (with the system's reason); a stop request seen by
//   the read function is Stopped. Both end the reading.
//
// Ownership: the reader owns its buffer and borrows nothing beyond the read
// function. Failure: statuses, never exceptions (except std::bad_alloc).
// Threads: one thread at a time.
#ifndef VERSEWELL_CLI_INPUT_LINE_READER_H
#define VERSEWELL_CLI_INPUT_LINE_READER_H

#include <cstddef>
#include <functional>
#include <istream>
#include <string>

namespace cli {

class CLineReader {
 public:
  // Fills up to `size` bytes; returns the count, 0 at the end, -1 on an
  // error (with `error` set), -2 when a stop was requested.
  using FRead = std::function<long long(char* buffer, size_t size, std::string& error)>;
  enum class EStatus { Line, TooLong, End, Error, Binary, Stopped };

  CLineReader(FRead read, size_t maxLineBytes);

  // The next line, without its line feed (a carriage return stays).
  EStatus Next(std::string& line);
  const std::string& ErrorText() const { return m_strError; }

 private:
  bool Fill();  // false when nothing more comes; sets m_eEnd
  void DecodeUtf16(const char* data, size_t size);

  FRead m_read;
  const size_t m_nMax;
  std::string m_strPending;  // decoded bytes not yet returned
  size_t m_nPos = 0;
  enum class EEncoding { Unknown, Bytes, Utf16Le, Utf16Be } m_eEncoding = EEncoding::Unknown;
  std::string m_strRawCarry;  // UTF-16: an odd byte, or a lone high surrogate's two bytes
  EStatus m_eEnd = EStatus::End;
  bool m_bEnded = false;
  std::string m_strError;
};

// A read function over a standard stream (tests, and where no handle is).
CLineReader::FRead ReadFromStream(std::istream& in);

}  // namespace cli

#endif  // VERSEWELL_CLI_INPUT_LINE_READER_H
